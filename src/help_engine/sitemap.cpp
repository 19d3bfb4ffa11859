#include "help_engine/sitemap.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace tovi::helpengine {

namespace {

struct Tag {
    QString name;  // lower case, "/ul" for a closing tag
    std::vector<std::pair<QString, QString>> attributes;  // names lower case

    QString attribute(QLatin1String key) const
    {
        for (const auto &[name, value] : attributes) {
            if (name == key)
                return value;
        }
        return {};
    }
};

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')
        || c == QLatin1Char('\r') || c == QLatin1Char('\f');
}

// Reads the tag that starts at html[at] == '<'; `at` ends after its '>'.
std::optional<Tag> readTag(const QString &html, qsizetype &at)
{
    const qsizetype size = html.size();
    ++at;
    if (html.mid(at, 3) == QLatin1String("!--")) {
        const qsizetype end = html.indexOf(QLatin1String("-->"), at + 3);
        at = end < 0 ? size : end + 3;
        return std::nullopt;
    }
    Tag tag;
    while (at < size && !isSpace(html[at]) && html[at] != QLatin1Char('>'))
        tag.name += html[at++].toLower();
    while (at < size && html[at] != QLatin1Char('>')) {
        if (isSpace(html[at]) || html[at] == QLatin1Char('/')) {
            ++at;
            continue;
        }
        QString name;
        while (at < size && !isSpace(html[at]) && html[at] != QLatin1Char('=') && html[at] != QLatin1Char('>'))
            name += html[at++].toLower();
        while (at < size && isSpace(html[at]))
            ++at;
        QString value;
        if (at < size && html[at] == QLatin1Char('=')) {
            ++at;
            while (at < size && isSpace(html[at]))
                ++at;
            if (at < size && (html[at] == QLatin1Char('"') || html[at] == QLatin1Char('\''))) {
                const QChar quote = html[at++];
                const qsizetype end = html.indexOf(quote, at);
                const qsizetype stop = end < 0 ? size : end;
                value = html.mid(at, stop - at);
                at = end < 0 ? size : end + 1;
            } else {
                while (at < size && !isSpace(html[at]) && html[at] != QLatin1Char('>'))
                    value += html[at++];
            }
        }
        tag.attributes.emplace_back(name, decodeHtmlEntities(value));
    }
    if (at < size)
        ++at;
    return tag;
}

// Builds one item from the <param> tags of an object.
class ItemBuilder {
public:
    explicit ItemBuilder(int level) { m_item.level = level; }

    void param(const QString &name, const QString &value)
    {
        const QString key = name.toLower();
        if (key == QLatin1String("name")) {
            if (!m_hasName) {
                m_item.name = value;
                m_hasName = true;
            } else {
                m_pendingTitle = value;
            }
        } else if (key == QLatin1String("local")) {
            m_item.topics.push_back({m_pendingTitle.isEmpty() ? m_item.name : m_pendingTitle, value});
            m_pendingTitle.clear();
        }
    }

    SitemapItem take() { return std::move(m_item); }

private:
    SitemapItem m_item;
    bool m_hasName = false;
    QString m_pendingTitle;
};

}  // namespace

QString decodeHtmlEntities(const QString &text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype semicolon = text[i] == QLatin1Char('&') ? text.indexOf(QLatin1Char(';'), i) : -1;
        if (semicolon < 0 || semicolon - i > 10) {
            out += text[i];
            continue;
        }
        const QString entity = text.mid(i + 1, semicolon - i - 1);
        QString replacement;
        if (entity == QLatin1String("amp")) replacement = QStringLiteral("&");
        else if (entity == QLatin1String("lt")) replacement = QStringLiteral("<");
        else if (entity == QLatin1String("gt")) replacement = QStringLiteral(">");
        else if (entity == QLatin1String("quot")) replacement = QStringLiteral("\"");
        else if (entity == QLatin1String("apos")) replacement = QStringLiteral("'");
        else if (entity == QLatin1String("nbsp")) replacement = QString(QChar(0xA0));
        else if (entity.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const uint code = entity.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                ? entity.mid(2).toUInt(&ok, 16)
                : entity.mid(1).toUInt(&ok, 10);
            if (ok && code > 0 && code <= 0x10FFFF) {
                const char32_t c = char32_t(code);
                replacement = QString::fromUcs4(&c, 1);
            }
        }
        if (replacement.isEmpty()) {
            out += text[i];
            continue;
        }
        out += replacement;
        i = semicolon;
    }
    return out;
}

std::vector<SitemapItem> parseSitemap(const QString &html)
{
    std::vector<SitemapItem> items;
    int depth = 0;
    std::optional<ItemBuilder> object;
    qsizetype at = 0;
    while (at < html.size()) {
        at = html.indexOf(QLatin1Char('<'), at);
        if (at < 0)
            break;
        const std::optional<Tag> tag = readTag(html, at);
        if (!tag)
            continue;
        if (tag->name == QLatin1String("ul")) {
            ++depth;
        } else if (tag->name == QLatin1String("/ul")) {
            depth = std::max(0, depth - 1);
        } else if (tag->name == QLatin1String("object")
                   && tag->attribute(QLatin1String("type")).compare(QLatin1String("text/sitemap"),
                                                                    Qt::CaseInsensitive) == 0) {
            // Items outside any list (the header object of a .hhc) are settings.
            if (depth > 0)
                object.emplace(depth - 1);
        } else if (tag->name == QLatin1String("param") && object) {
            object->param(tag->attribute(QLatin1String("name")), tag->attribute(QLatin1String("value")));
        } else if (tag->name == QLatin1String("/object") && object) {
            SitemapItem item = object->take();
            object.reset();
            if (!item.name.isEmpty())
                items.push_back(std::move(item));
        }
    }
    return items;
}

}  // namespace tovi::helpengine
