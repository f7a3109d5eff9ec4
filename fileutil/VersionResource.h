#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

namespace velmar {

// The raw version block (RT_VERSION, name 1) of a Windows executable, PE32 or PE32+, read from
// the resource section of the file itself, so that it works the same on every platform.
// Empty when the file is missing, is not a PE file, has no version resource, or is damaged in
// any way that puts a needed piece outside the file.
QByteArray readVersionResource(const QString &path);

// The same from an open, random-access device that holds the whole file.
QByteArray readVersionResource(QIODevice &device);

}  // namespace velmar
