#pragma once

#include <QByteArray>
#include <QString>

namespace velmar::test {

// Small Windows executables made at test time with Debian's MinGW binutils (windres and ld):
// a PE file holding nothing but the resources that a resource script gives.
class PeFixture {
public:
    enum class Arch { Pe32Plus, Pe32 };

    static bool toolsAvailable(Arch arch = Arch::Pe32Plus);

    // Compiles the resource script (UTF-8; file names in it are relative to exePath's folder)
    // and links it into exePath. Returns the tools' error text, or an empty text on success.
    static QString build(const QString &resourceScript, const QString &exePath,
                         Arch arch = Arch::Pe32Plus);

    // An executable whose version resource is the given raw bytes.
    static QString buildRawVersion(const QByteArray &block, const QString &exePath,
                                   Arch arch = Arch::Pe32Plus);

    // A resource script with one string table of the given language (eight hex digits) and
    // the given FileVersion, the other usual keys filled in.
    static QString versionScript(const QString &fileVersion,
                                 const QString &table = QStringLiteral("041204B0"));
};

}  // namespace velmar::test

#define VELMAR_REQUIRE_MINGW(arch)                                                        \
    do {                                                                                  \
        if (!velmar::test::PeFixture::toolsAvailable(arch))                               \
            QSKIP("MinGW binutils (windres, ld) not installed");                          \
    } while (false)
