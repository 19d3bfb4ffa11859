#include "help_engine/help_window.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QStringDecoder>
#include <QStyle>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <functional>

namespace tovi::helpengine {

namespace {

constexpr int kPageRole = Qt::UserRole;       // contents item: its page
constexpr int kIndexItemRole = Qt::UserRole;  // index item: position in the index
constexpr int kWindowWidth = 840;
constexpr int kWindowHeight = 600;
constexpr int kNavigationWidth = 250;
constexpr int kPageMargin = 12;

QString pageOf(const SitemapItem &item)
{
    return item.topics.empty() ? QString() : normalizePagePath(item.topics.front().local);
}

QString pageWithoutFragment(const QUrl &url)
{
    return normalizePagePath(url.path(QUrl::FullyDecoded));
}

// Rebuilds the nesting of the sitemap levels as tree items.
void fillTree(QTreeWidget *tree, const std::vector<SitemapItem> &items,
              const std::function<void(QTreeWidgetItem *, const SitemapItem &, int)> &decorate)
{
    tree->clear();
    std::vector<QTreeWidgetItem *> parents;
    for (int i = 0; i < int(items.size()); ++i) {
        const SitemapItem &source = items[std::size_t(i)];
        while (!parents.empty() && int(parents.size()) > source.level)
            parents.pop_back();
        auto *item = parents.empty() ? new QTreeWidgetItem(tree) : new QTreeWidgetItem(parents.back());
        item->setText(0, source.name);
        decorate(item, source, i);
        parents.push_back(item);
    }
}

QTreeWidgetItem *findItem(QTreeWidget *tree, const std::function<bool(QTreeWidgetItem *)> &match)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if (match(*it))
            return *it;
    }
    return nullptr;
}

}  // namespace

HelpBrowser::HelpBrowser(QWidget *parent) : QTextBrowser(parent)
{
    // Links are followed by the window, which knows which ones leave the file.
    setOpenLinks(false);
    setOpenExternalLinks(false);
}

QVariant HelpBrowser::loadResource(int type, const QUrl &name)
{
    if (name.scheme() != QLatin1String(HelpWindow::kPageScheme))
        return {};  // nothing outside the help file is shown inside it
    const QString page = pageWithoutFragment(name);
    const std::optional<QByteArray> bytes = m_file ? m_file->read(page) : std::nullopt;
    switch (type) {
    case QTextDocument::HtmlResource: {
        if (!bytes) {
            return HelpWindow::messageHtml(
                QStringLiteral("ページが見つかりません"),
                QStringLiteral("ページ「%1」はこのヘルプ ファイルにありません。").arg(page.mid(1)));
        }
        QStringDecoder decoder = QStringDecoder::decoderForHtml(*bytes);
        return decoder.isValid() ? QString(decoder.decode(*bytes)) : QString::fromUtf8(*bytes);
    }
    case QTextDocument::StyleSheetResource:
        return bytes ? QVariant(QString::fromUtf8(*bytes)) : QVariant();
    default:
        return bytes ? QVariant(*bytes) : QVariant();
    }
}

HelpWindow::HelpWindow(const QString &helpFilePath) : m_helpFilePath(helpFilePath)
{
    // Help windows have no owner and must not keep the program running once
    // its main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("ヘルプ"));
    setWindowIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
    buildUi();
    resize(kWindowWidth, kWindowHeight);
    openHelpFile();
}

HelpWindow::~HelpWindow()
{
    // The browser reads from the file until it is gone.
    m_browser->setHelpFile(nullptr);
}

void HelpWindow::buildUi()
{
    auto *bar = new QToolBar(this);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_back = bar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("戻る(&B)"));
    m_forward = bar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), QStringLiteral("進む(&F)"));
    m_home = bar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), QStringLiteral("ホーム(&H)"));
    m_back->setShortcut(QKeySequence::Back);
    m_forward->setShortcut(QKeySequence::Forward);
    m_back->setEnabled(false);
    m_forward->setEnabled(false);

    m_contents = new QTreeWidget;
    m_contents->setHeaderHidden(true);
    m_contents->setObjectName(QStringLiteral("contents"));

    m_indexPage = new QWidget;
    auto *indexLabel = new QLabel(QStringLiteral("検索するキーワードを入力してください(&W):"));
    m_indexSearch = new QLineEdit;
    m_indexSearch->setObjectName(QStringLiteral("indexSearch"));
    indexLabel->setBuddy(m_indexSearch);
    m_index = new QTreeWidget;
    m_index->setHeaderHidden(true);
    m_index->setRootIsDecorated(false);
    m_index->setObjectName(QStringLiteral("index"));
    m_indexShow = new QPushButton(QStringLiteral("表示(&D)"));
    auto *indexLayout = new QVBoxLayout(m_indexPage);
    indexLayout->addWidget(indexLabel);
    indexLayout->addWidget(m_indexSearch);
    indexLayout->addWidget(m_index, 1);
    auto *showRow = new QHBoxLayout;
    showRow->addStretch(1);
    showRow->addWidget(m_indexShow);
    indexLayout->addLayout(showRow);

    m_tabs = new QTabWidget;
    m_tabs->addTab(m_contents, QStringLiteral("目次(&C)"));
    m_tabs->addTab(m_indexPage, QStringLiteral("キーワード(&N)"));

    m_browser = new HelpBrowser;
    m_browser->setObjectName(QStringLiteral("page"));
    m_browser->document()->setDocumentMargin(kPageMargin);

    auto *splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kNavigationWidth, kWindowWidth - kNavigationWidth});

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(splitter, 1);

    connect(m_back, &QAction::triggered, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QAction::triggered, m_browser, &QTextBrowser::forward);
    connect(m_home, &QAction::triggered, this, [this] { showDefaultPage(); });
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QAction::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, [this](const QUrl &url) { followLink(url); });
    connect(m_browser, &QTextBrowser::sourceChanged, this, [this](const QUrl &url) { syncContents(url); });

    const auto openContentsItem = [this](QTreeWidgetItem *item) {
        const QString page = item->data(0, kPageRole).toString();
        if (!page.isEmpty())
            showPage(page);
    };
    connect(m_contents, &QTreeWidget::itemClicked, this, openContentsItem);
    connect(m_contents, &QTreeWidget::itemActivated, this, openContentsItem);

    connect(m_indexSearch, &QLineEdit::textEdited, this, [this](const QString &text) { selectIndexEntry(text); });
    connect(m_indexSearch, &QLineEdit::returnPressed, this, [this] { openIndexItem(m_index->currentItem()); });
    connect(m_index, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem *item) { openIndexItem(item); });
    connect(m_indexShow, &QPushButton::clicked, this, [this] { openIndexItem(m_index->currentItem()); });
}

bool HelpWindow::openHelpFile()
{
    if (m_file)
        return true;
    m_file = ChmFile::open(m_helpFilePath);
    if (!m_file)
        return false;
    m_browser->setHelpFile(m_file.get());
    if (!m_file->system().title.isEmpty())
        setWindowTitle(m_file->system().title);
    fillContents();
    fillIndex();
    return true;
}

std::vector<SitemapItem> HelpWindow::readSitemap(const QString &file) const
{
    if (file.isEmpty())
        return {};
    const std::optional<QByteArray> bytes = m_file->read(file);
    return bytes ? parseSitemap(decodeHelpText(*bytes)) : std::vector<SitemapItem>();
}

void HelpWindow::fillContents()
{
    fillTree(m_contents, readSitemap(m_file->system().contentsFile),
             [this](QTreeWidgetItem *item, const SitemapItem &source, int) {
                 const QString page = pageOf(source);
                 item->setData(0, kPageRole, page);
                 item->setIcon(0, style()->standardIcon(page.isEmpty() ? QStyle::SP_DirIcon
                                                                       : QStyle::SP_FileIcon));
             });
    m_contents->expandAll();
}

void HelpWindow::fillIndex()
{
    m_indexItems = readSitemap(m_file->system().indexFile);
    fillTree(m_index, m_indexItems, [](QTreeWidgetItem *item, const SitemapItem &, int position) {
        item->setData(0, kIndexItemRole, position);
    });
    m_index->expandAll();
}

void HelpWindow::present()
{
    show();
    raise();
    activateWindow();
}

QUrl HelpWindow::pageUrl(const QString &page)
{
    const QString normalized = normalizePagePath(page);
    const qsizetype fragment = normalized.indexOf(QLatin1Char('#'));
    QUrl url;
    url.setScheme(QLatin1String(kPageScheme));
    url.setPath(fragment < 0 ? normalized : normalized.left(fragment), QUrl::DecodedMode);
    if (fragment >= 0)
        url.setFragment(normalized.mid(fragment + 1), QUrl::DecodedMode);
    return url;
}

QString HelpWindow::messageHtml(const QString &title, const QString &text)
{
    return QStringLiteral("<html><head><title>%1</title></head><body>"
                          "<h2>%1</h2><p>%2</p></body></html>")
        .arg(title.toHtmlEscaped(), text.toHtmlEscaped());
}

void HelpWindow::showPage(const QString &page)
{
    m_browser->setSource(pageUrl(page), QTextDocument::HtmlResource);
}

void HelpWindow::showDefaultPage()
{
    if (!m_file) {
        showMessage(QStringLiteral("ヘルプ ファイルを開けません"),
                    QStringLiteral("ヘルプ ファイル「%1」が見つからないか、ヘルプ ファイルとして読めません。")
                        .arg(m_helpFilePath));
        return;
    }
    QString page = m_file->system().defaultTopic;
    if (page.isEmpty() && m_contents->topLevelItemCount() > 0) {
        const QTreeWidgetItem *first = findItem(m_contents, [](QTreeWidgetItem *item) {
            return !item->data(0, kPageRole).toString().isEmpty();
        });
        if (first)
            page = first->data(0, kPageRole).toString();
    }
    if (page.isEmpty()) {
        showMessage(QStringLiteral("ページがありません"),
                    QStringLiteral("このヘルプ ファイルには表示できるページがありません。"));
        return;
    }
    showPage(page);
}

void HelpWindow::showMessage(const QString &title, const QString &text)
{
    m_browser->setHtml(messageHtml(title, text));
    // The message is no page of the contents.
    m_contents->setCurrentItem(nullptr);
    m_contents->clearSelection();
}

void HelpWindow::showIndex(const QString &text)
{
    m_tabs->setCurrentWidget(m_indexPage);
    m_indexSearch->setText(text);
    selectIndexEntry(text);
    m_indexSearch->setFocus();
}

void HelpWindow::selectIndexEntry(const QString &text)
{
    const QString wanted = text.trimmed();
    QTreeWidgetItem *item = findItem(m_index, [&](QTreeWidgetItem *candidate) {
        return candidate->text(0).startsWith(wanted, Qt::CaseInsensitive);
    });
    if (!item)
        return;
    m_index->setCurrentItem(item);
    m_index->scrollToItem(item, QAbstractItemView::PositionAtTop);
}

QStringList HelpWindow::pagesForKeywords(const QStringList &keywords) const
{
    QStringList pages;
    for (const SitemapItem &item : m_indexItems) {
        const bool wanted = std::any_of(keywords.begin(), keywords.end(), [&](const QString &keyword) {
            return item.name.trimmed().compare(keyword.trimmed(), Qt::CaseInsensitive) == 0;
        });
        if (!wanted)
            continue;
        for (const SitemapTopic &topic : item.topics) {
            const QString page = normalizePagePath(topic.local);
            if (!pages.contains(page))
                pages.append(page);
        }
    }
    return pages;
}

void HelpWindow::openIndexItem(QTreeWidgetItem *item)
{
    if (!item)
        return;
    const int position = item->data(0, kIndexItemRole).toInt();
    if (position < 0 || position >= int(m_indexItems.size()))
        return;
    const std::vector<SitemapTopic> &topics = m_indexItems[std::size_t(position)].topics;
    if (topics.size() == 1)
        showPage(topics.front().local);
    else if (topics.size() > 1)
        openTopics(topics, m_index->viewport()->mapToGlobal(m_index->visualItemRect(item).bottomLeft()));
}

void HelpWindow::openTopics(const std::vector<SitemapTopic> &topics, const QPoint &where)
{
    QMenu menu(this);
    menu.setTitle(QStringLiteral("トピックの選択"));
    for (const SitemapTopic &topic : topics) {
        const QString local = topic.local;
        menu.addAction(topic.title, this, [this, local] { showPage(local); });
    }
    menu.exec(where);
}

void HelpWindow::followLink(const QUrl &link)
{
    const QUrl url = link.isRelative() ? m_browser->source().resolved(link) : link;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String(kPageScheme)) {
        m_browser->setSource(url, QTextDocument::HtmlResource);
    } else if (scheme == QLatin1String("ms-its") || scheme == QLatin1String("mk")) {
        // "ms-its:ToviXP.chm::/page.htm": a page of a help file, taken as ours.
        showPage(url.toString(QUrl::FullyDecoded));
    } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https")
               || scheme == QLatin1String("mailto")) {
        QDesktopServices::openUrl(url);
    }
}

void HelpWindow::syncContents(const QUrl &url)
{
    const QString page = pageWithoutFragment(url);
    QTreeWidgetItem *item = findItem(m_contents, [&](QTreeWidgetItem *candidate) {
        return candidate->data(0, kPageRole).toString().compare(page, Qt::CaseInsensitive) == 0;
    });
    if (item)
        m_contents->setCurrentItem(item);
}

}  // namespace tovi::helpengine
