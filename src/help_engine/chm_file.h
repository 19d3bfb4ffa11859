#pragma once
// Reading a compiled help file: its pages and the records the help window
// needs (title, default page, contents and index files, context map).
// Page paths inside the file are absolute ("/overview.htm").

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

struct chmFile;

namespace tovi::helpengine {

// The entries of the "#SYSTEM" record this engine uses.
struct ChmSystemInfo {
    QString contentsFile;  // code 0
    QString indexFile;     // code 1
    QString defaultTopic;  // code 2
    QString title;         // code 3
};

ChmSystemInfo parseSystemRecords(const QByteArray &system);

// Context numbers to the paths stored for them: "#IVB" holds pairs of
// (number, offset into "#STRINGS"), "#STRINGS" zero-terminated paths. The
// paths are whatever the compiler wrote, usually its own full path of the
// source file.
std::map<std::uint32_t, QString> parseContextMap(const QByteArray &ivb, const QByteArray &strings);

// The page of `pages` that the stored path names: the longest page path that
// ends the stored path at a folder boundary ("/home/x/help/a.htm" names
// "/a.htm", "C:\\src\\img\\b.htm" names "/img/b.htm"). Empty when none does.
QString pageForStoredPath(const QString &storedPath, const QStringList &pages);

// "a.htm", "./a.htm", "/a.htm", "ms-its:x.chm::/a.htm" all become "/a.htm";
// the "#fragment" is kept.
QString normalizePagePath(const QString &path);

// Texts inside a help file are UTF-8 when chmcmd wrote them; older files use
// the Japanese code page.
QString decodeHelpText(const QByteArray &bytes);

class ChmFile {
public:
    // Null when the file can't be opened as a compiled help file.
    static std::unique_ptr<ChmFile> open(const QString &path);
    ~ChmFile();
    ChmFile(const ChmFile &) = delete;
    ChmFile &operator=(const ChmFile &) = delete;

    const QString &path() const { return m_path; }
    const ChmSystemInfo &system() const { return m_system; }

    // Every ordinary file inside, as absolute paths, in archive order.
    const QStringList &pages() const { return m_pages; }

    bool contains(const QString &page) const;
    std::optional<QByteArray> read(const QString &page) const;

    // The page a context number opens, or empty when the file maps none.
    QString pageForContext(std::uint32_t number) const;
    const std::map<std::uint32_t, QString> &contextPages() const { return m_contextPages; }

private:
    ChmFile(QString path, chmFile *handle);
    void loadRecords();

    QString m_path;
    chmFile *m_handle;
    ChmSystemInfo m_system;
    QStringList m_pages;
    std::map<std::uint32_t, QString> m_contextPages;
};

}  // namespace tovi::helpengine
