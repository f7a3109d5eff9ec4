#pragma once

#include <QString>

namespace velmar {

// The fields of the main window that a copy reads.
enum class FieldId {
    None,       // leave the focus where it is
    chkWork0,   // first stage box
    cmbField0,  // host
    cmbField1,  // DB prefix
    txtField0,  // user
    txtField1,  // dump options
    txtField2,  // new user
    txtField3,  // new DB
    txtField4,  // foreign-key folder
};

// The values of the window's fields when the copy starts, and the names derived from them.
struct CopyRequest {
    QString host;         // cmbField(0)  "&HOST:"
    QString dbPrefix;     // cmbField(1)  "&DB:"
    QString user;         // txtField(0)  "&USER:"
    QString dumpOption;   // txtField(1)  "&option:"
    QString newUser;      // txtField(2)  "N&ew USER:"
    QString newDB;        // txtField(3)  "&New DB:"
    QString foreignPath;  // txtField(4)  "외래키파일경로:"
    bool foreign = false;     // chkField(0) "외래키 처리"
    bool existDBDel = false;  // chkField(1) drop an existing local database without asking
    bool onOrdUser = false;   // chkField(2) also grant the _ord user
    bool stage[3] = {true, true, true};  // chkWork(0..2)
    // Only the tables that differ from the existing local database are dumped and replaced;
    // views, triggers, routines and events are made again. Without a local database, with the
    // foreign-key script or without the dump this is a full copy.
    bool changedOnly = false;

    // What may be done about other connections that use the local database when it is to be
    // dropped: the window asks whether to wait or to end them, velmar-cli asks only whether to
    // wait unless told to end them.
    enum class OtherSessions { AskWaitOrEnd, AskWait, End };
    OtherSessions otherSessions = OtherSessions::AskWaitOrEnd;

    // What becomes of a view's, trigger's or routine's definer that the local server lacks: the
    // account the copy grants takes its place (nothing is left on the server beyond the copy and
    // its grants), or it is made locally, locked, with the rights of the copy.
    enum class Definers { Rewrite, CreateLocked };
    Definers definers = Definers::Rewrite;

    // Connections that load the dump into the local server; 0: the loader's default.
    int importConnections = 0;

    // The folder of the dump folder and the working folder of the programs; empty: the
    // program's own folder.
    QString programFolder;

    // The source database: prefix followed by the user.
    QString SourceDBName() const { return dbPrefix + user; }
    // The local database: the New DB field, or the source name.
    QString NewDBName() const { return newDB.isEmpty() ? SourceDBName() : newDB; }
    // The granted user: the New USER field, or the source user.
    QString NewUserName() const { return newUser.isEmpty() ? user : newUser; }
};

struct ValidationResult {
    bool passed = false;
    FieldId focus = FieldId::None;  // where the window puts the focus after the message
};

// The checks of the copy button, in their fixed order. The first failing check shows its message
// (an OK-only box) through the messenger and names the field that gets the focus.
ValidationResult ValidateCopyRequest(const CopyRequest &request);

// True when the host text names this machine's own server (localhost, 127.x.x.x, ::1, this
// machine's name; any letter case, blanks around, an optional :port).
bool isLocalHost(const QString &hostText);

// The foreign-key scripts the copy loads for the two known prefixes.
inline const QString kPelsarScript = QStringLiteral("pelsar_tables외래키.SQL");
inline const QString kDorvikScript = QStringLiteral("dorvik_tables외래키.SQL");

// folder + the platform's separator + name.
QString joinPath(const QString &folder, const QString &name);
// A file that counts as present: an existing file, not a folder.
bool fileExists(const QString &path);

}  // namespace velmar
