#pragma once
// File-name tests shared by the command line, the open step and drops.

#include <QString>

namespace tovi::ui {

// The extension from the last "." after the last folder separator, dot
// included, with its ASCII letters A-Z lower-cased; empty when there is none.
QString lowerExtension(const QString &fileName);

// Whether a name is taken as a BMP file: its lower-cased extension is ".bmp".
bool isBmpFileName(const QString &fileName);

// The file-name part of a name (after the last folder separator).
QString fileNamePart(const QString &fileName);

}  // namespace tovi::ui
