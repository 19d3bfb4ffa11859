#include "help_engine/chm_file.h"

#include <QFile>
#include <QStringDecoder>

#include <chm_lib.h>

#include <utility>

namespace tovi::helpengine {

namespace {

constexpr char kSystemRecord[] = "/#SYSTEM";
constexpr char kContextIds[] = "/#IVB";
constexpr char kContextStrings[] = "/#STRINGS";

enum SystemCode : std::uint16_t {
    kSystemContentsFile = 0,
    kSystemIndexFile = 1,
    kSystemDefaultTopic = 2,
    kSystemTitle = 3,
};

// "#SYSTEM" starts with a 32-bit version; "#IVB" with the byte count of its pairs.
constexpr int kSystemHeaderBytes = 4;
constexpr int kSystemRecordHeaderBytes = 4;
constexpr int kContextHeaderBytes = 4;
constexpr int kContextPairBytes = 8;

std::uint16_t readLe16(const QByteArray &bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + at;
    return std::uint16_t(p[0] | (p[1] << 8));
}

std::uint32_t readLe32(const QByteArray &bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData()) + at;
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16)
        | (std::uint32_t(p[3]) << 24);
}

// A zero-terminated text starting at `at`, cut at `end` when unterminated.
QByteArray zeroTerminated(const QByteArray &bytes, qsizetype at, qsizetype end)
{
    qsizetype stop = bytes.indexOf('\0', at);
    if (stop < 0 || stop > end)
        stop = end;
    return bytes.mid(at, stop - at);
}

QString withForwardSlashes(QString path)
{
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

// The archive path of a page: absolute, without its "#fragment" ("/#SYSTEM"
// and the like start with "#"; only a later "#" is a fragment).
QByteArray objectPath(const QString &page)
{
    QString path = page.startsWith(QLatin1Char('/')) ? page : normalizePagePath(page);
    const qsizetype fragment = path.indexOf(QLatin1Char('#'), 2);
    if (fragment > 0)
        path.truncate(fragment);
    return path.toUtf8();
}

int collectPage(chmFile *, chmUnitInfo *info, void *context)
{
    auto *pages = static_cast<QStringList *>(context);
    const QString path = QString::fromUtf8(info->path);
    // Folders end in "/"; "#..." and "$..." entries are the compiler's records.
    if (path.startsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('/'))
        && !path.startsWith(QLatin1String("/#")) && !path.startsWith(QLatin1String("/$")))
        pages->append(path);
    return CHM_ENUMERATOR_CONTINUE;
}

}  // namespace

QString decodeHelpText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder shiftJis("Shift_JIS");
    if (shiftJis.isValid()) {
        text = shiftJis.decode(bytes);
        if (!shiftJis.hasError())
            return text;
    }
    return QString::fromLatin1(bytes);
}

ChmSystemInfo parseSystemRecords(const QByteArray &system)
{
    ChmSystemInfo info;
    qsizetype at = kSystemHeaderBytes;
    while (at + kSystemRecordHeaderBytes <= system.size()) {
        const std::uint16_t code = readLe16(system, at);
        const std::uint16_t length = readLe16(system, at + 2);
        const qsizetype data = at + kSystemRecordHeaderBytes;
        if (data + length > system.size())
            break;
        const auto text = [&] { return decodeHelpText(zeroTerminated(system, data, data + length)); };
        switch (code) {
        case kSystemContentsFile: info.contentsFile = text(); break;
        case kSystemIndexFile: info.indexFile = text(); break;
        case kSystemDefaultTopic: info.defaultTopic = text(); break;
        case kSystemTitle: info.title = text(); break;
        default: break;
        }
        at = data + length;
    }
    return info;
}

std::map<std::uint32_t, QString> parseContextMap(const QByteArray &ivb, const QByteArray &strings)
{
    std::map<std::uint32_t, QString> map;
    if (ivb.size() < kContextHeaderBytes)
        return map;
    // The stated count is trusted only as far as the record really reaches.
    const qsizetype end = std::min<qsizetype>(ivb.size(), kContextHeaderBytes + qsizetype(readLe32(ivb, 0)));
    for (qsizetype at = kContextHeaderBytes; at + kContextPairBytes <= end; at += kContextPairBytes) {
        const std::uint32_t number = readLe32(ivb, at);
        const std::uint32_t offset = readLe32(ivb, at + 4);
        if (offset >= std::uint32_t(strings.size()))
            continue;
        map[number] = decodeHelpText(zeroTerminated(strings, offset, strings.size()));
    }
    return map;
}

QString pageForStoredPath(const QString &storedPath, const QStringList &pages)
{
    QString stored = withForwardSlashes(storedPath);
    const qsizetype fragment = stored.indexOf(QLatin1Char('#'));
    if (fragment >= 0)
        stored.truncate(fragment);
    if (!stored.startsWith(QLatin1Char('/')))
        stored.prepend(QLatin1Char('/'));
    QString best;
    for (const QString &page : pages) {
        if (page.size() > best.size() && stored.endsWith(page, Qt::CaseInsensitive))
            best = page;
    }
    return best;
}

QString normalizePagePath(const QString &path)
{
    QString page = withForwardSlashes(path.trimmed());
    const qsizetype separator = page.indexOf(QLatin1String("::"));
    if (separator >= 0)
        page = page.mid(separator + 2);
    while (page.startsWith(QLatin1String("./")))
        page.remove(0, 2);
    if (!page.startsWith(QLatin1Char('/')))
        page.prepend(QLatin1Char('/'));
    return page;
}

std::unique_ptr<ChmFile> ChmFile::open(const QString &path)
{
    chmFile *handle = chm_open(QFile::encodeName(path).constData());
    if (!handle)
        return nullptr;
    std::unique_ptr<ChmFile> file(new ChmFile(path, handle));
    file->loadRecords();
    return file;
}

ChmFile::ChmFile(QString path, chmFile *handle) : m_path(std::move(path)), m_handle(handle) {}

ChmFile::~ChmFile()
{
    chm_close(m_handle);
}

void ChmFile::loadRecords()
{
    chm_enumerate(m_handle, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collectPage, &m_pages);
    m_system = parseSystemRecords(read(QString::fromLatin1(kSystemRecord)).value_or(QByteArray()));
    const auto stored = parseContextMap(read(QString::fromLatin1(kContextIds)).value_or(QByteArray()),
                                        read(QString::fromLatin1(kContextStrings)).value_or(QByteArray()));
    for (const auto &[number, storedPath] : stored) {
        const QString page = pageForStoredPath(storedPath, m_pages);
        if (!page.isEmpty())
            m_contextPages[number] = page;
    }
}

bool ChmFile::contains(const QString &page) const
{
    chmUnitInfo info;
    return chm_resolve_object(m_handle, objectPath(page).constData(), &info) == CHM_RESOLVE_SUCCESS;
}

std::optional<QByteArray> ChmFile::read(const QString &page) const
{
    chmUnitInfo info;
    if (chm_resolve_object(m_handle, objectPath(page).constData(), &info) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    QByteArray bytes(qsizetype(info.length), Qt::Uninitialized);
    if (info.length == 0)
        return bytes;
    const LONGINT64 got = chm_retrieve_object(m_handle, &info,
                                              reinterpret_cast<unsigned char *>(bytes.data()), 0,
                                              LONGINT64(info.length));
    if (got <= 0)
        return std::nullopt;
    bytes.truncate(qsizetype(got));
    return bytes;
}

QString ChmFile::pageForContext(std::uint32_t number) const
{
    const auto found = m_contextPages.find(number);
    return found == m_contextPages.end() ? QString() : found->second;
}

}  // namespace tovi::helpengine
