#pragma once
// The contents (.hhc) and keyword index (.hhk) of a help file: HTML lists of
// <OBJECT type="text/sitemap"> items nested in <UL> levels.

#include <QString>

#include <vector>

namespace tovi::helpengine {

struct SitemapTopic {
    QString title;
    QString local;  // page path as written, relative to the help file's root
};

struct SitemapItem {
    int level = 0;  // 0 for the outermost list
    QString name;
    // Usually one; an index keyword may lead to several pages, each written
    // as a "Name" (the page's title) followed by its "Local".
    std::vector<SitemapTopic> topics;
};

// Items in document order. Unknown tags are skipped; a damaged file gives
// whatever items could be read.
std::vector<SitemapItem> parseSitemap(const QString &html);

// "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&nbsp;" and numeric references.
QString decodeHtmlEntities(const QString &text);

}  // namespace tovi::helpengine
