#include "PeFixture.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace velmar::test {

namespace {

QString prefix(PeFixture::Arch arch)
{
    return arch == PeFixture::Arch::Pe32Plus ? QStringLiteral("x86_64-w64-mingw32-")
                                             : QStringLiteral("i686-w64-mingw32-");
}

// Runs in the fixture's folder with names relative to it: under Wine the tools are the build
// machine's, which read Unix paths only.
QString run(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted(-1))
        return program + u": " + p.errorString();
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return program + u": " + QString::fromLocal8Bit(p.readAll());
    return {};
}

}  // namespace

bool PeFixture::toolsAvailable(Arch arch)
{
    return !QStandardPaths::findExecutable(prefix(arch) + u"windres").isEmpty()
           && !QStandardPaths::findExecutable(prefix(arch) + u"ld").isEmpty();
}

QString PeFixture::build(const QString &resourceScript, const QString &exePath, Arch arch)
{
    const QString folder = QFileInfo(exePath).absolutePath();
    const QString exe = QFileInfo(exePath).fileName();
    const QString rc = exe + u".rc";
    const QString obj = exe + u".o";
    QFile f(folder + u'/' + rc);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return f.errorString();
    f.write(resourceScript.toUtf8());
    f.close();
    QString error = run(prefix(arch) + u"windres",
                        {QStringLiteral("--preprocessor=cat"), QStringLiteral("-c"),
                         QStringLiteral("65001"), rc, QStringLiteral("-O"), QStringLiteral("coff"),
                         QStringLiteral("-o"), obj},
                        folder);
    if (error.isEmpty())
        error = run(prefix(arch) + u"ld", {QStringLiteral("-e"), QStringLiteral("0"),
                                           QStringLiteral("-o"), exe, obj},
                    folder);
    QFile::remove(folder + u'/' + rc);
    QFile::remove(folder + u'/' + obj);
    return error;
}

QString PeFixture::buildRawVersion(const QByteArray &block, const QString &exePath, Arch arch)
{
    const QString bin = exePath + u".bin";
    QFile f(bin);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return f.errorString();
    f.write(block);
    f.close();
    // Resource type 16 is RT_VERSION; the bytes go in unchanged.
    const QString error = build(u"1 16 \"" + QFileInfo(bin).fileName() + u"\"\n", exePath, arch);
    QFile::remove(bin);
    return error;
}

QString PeFixture::versionScript(const QString &fileVersion, const QString &table)
{
    return QStringLiteral("1 VERSIONINFO\n"
                          "FILEVERSION 1,0,0,25\n"
                          "PRODUCTVERSION 1,0,0,25\n"
                          "BEGIN\n"
                          "  BLOCK \"StringFileInfo\"\n"
                          "  BEGIN\n"
                          "    BLOCK \"%1\"\n"
                          "    BEGIN\n"
                          "      VALUE \"CompanyName\", \"Zephlane Soft\"\n"
                          "      VALUE \"FileVersion\", \"%2\"\n"
                          "      VALUE \"ProductName\", \"Zephlane\"\n"
                          "    END\n"
                          "  END\n"
                          "  BLOCK \"VarFileInfo\"\n"
                          "  BEGIN\n"
                          "    VALUE \"Translation\", 0x412, 1200\n"
                          "  END\n"
                          "END\n")
        .arg(table, fileVersion);
}

}  // namespace velmar::test
