#pragma once
// The help window: contents and keyword index on the left, the page on the
// right, back / forward / home above. One window per help file; closing it
// only hides it, so the engine alone decides when it is destroyed.

#include "help_engine/chm_file.h"
#include "help_engine/sitemap.h"

#include <QTextBrowser>
#include <QWidget>

#include <memory>
#include <vector>

class QAction;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace tovi::helpengine {

// Pages, pictures and style sheets come out of the help file; a page that is
// not there becomes the engine's message page.
class HelpBrowser : public QTextBrowser {
public:
    explicit HelpBrowser(QWidget *parent = nullptr);
    void setHelpFile(const ChmFile *file) { m_file = file; }
    QVariant loadResource(int type, const QUrl &name) override;

private:
    const ChmFile *m_file = nullptr;
};

class HelpWindow : public QWidget {
public:
    // The scheme of the URLs of pages inside the help file ("chm:/page.htm").
    static constexpr char kPageScheme[] = "chm";

    explicit HelpWindow(const QString &helpFilePath);
    ~HelpWindow() override;

    // Opens the help file if that has not worked yet; false when it can't.
    bool openHelpFile();
    const ChmFile *helpFile() const { return m_file.get(); }
    const QString &helpFilePath() const { return m_helpFilePath; }

    void present();
    void showPage(const QString &page);
    void showDefaultPage();
    void showMessage(const QString &title, const QString &text);
    // Brings the index to the front with `text` in its search field and the
    // nearest keyword selected.
    void showIndex(const QString &text);

    // The pages the index lists under any of these keywords (whole keyword,
    // letter case ignored), each once, in index order.
    QStringList pagesForKeywords(const QStringList &keywords) const;

    HelpBrowser *browser() const { return m_browser; }
    QTabWidget *navigationTabs() const { return m_tabs; }
    QTreeWidget *contentsTree() const { return m_contents; }
    QTreeWidget *indexList() const { return m_index; }
    QLineEdit *indexSearchField() const { return m_indexSearch; }

    static QUrl pageUrl(const QString &page);
    static QString messageHtml(const QString &title, const QString &text);

private:
    void buildUi();
    void fillContents();
    void fillIndex();
    std::vector<SitemapItem> readSitemap(const QString &file) const;
    void selectIndexEntry(const QString &text);
    void openIndexItem(QTreeWidgetItem *item);
    void openTopics(const std::vector<SitemapTopic> &topics, const QPoint &where);
    void followLink(const QUrl &url);
    void syncContents(const QUrl &url);

    QString m_helpFilePath;
    std::unique_ptr<ChmFile> m_file;
    std::vector<SitemapItem> m_indexItems;

    QAction *m_back = nullptr;
    QAction *m_forward = nullptr;
    QAction *m_home = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTreeWidget *m_contents = nullptr;
    QWidget *m_indexPage = nullptr;
    QLineEdit *m_indexSearch = nullptr;
    QTreeWidget *m_index = nullptr;
    QPushButton *m_indexShow = nullptr;
    HelpBrowser *m_browser = nullptr;
};

}  // namespace tovi::helpengine
