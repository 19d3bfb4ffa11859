#include "ui/main/file_names.h"

namespace tovi::ui {

QString lowerExtension(const QString &fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return {};
    QString extension = fileName.mid(dot);
    for (QChar &c : extension) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    }
    return extension;
}

bool isBmpFileName(const QString &fileName)
{
    return lowerExtension(fileName) == QLatin1String(".bmp");
}

QString fileNamePart(const QString &fileName)
{
    return fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
}

}  // namespace tovi::ui
