// The main window without a server: layout, restore, saving, derivation, keys, validation.
#include "FrmLog.h"
#include "FrmMain.h"
#include "GuiTestSupport.h"
#include "QtTranslations.h"
#include "RecordingMessenger.h"
#include "SettingsStore.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QTest>

#include <functional>

#include <memory>

using namespace velmar;
using namespace velmar::test;

namespace {

const QString kAbsent = QStringLiteral("<absent>");

QString stored(const QString &key)
{
    return GetSetting(QStringLiteral("Config"), key, kAbsent);
}

int px(int twips)
{
    return qRound(twips / 15.0);
}

QStringList items(const QComboBox *c)
{
    QStringList list;
    for (int i = 0; i < c->count(); ++i)
        list << c->itemText(i);
    return list;
}

QString textOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *c = qobject_cast<QComboBox *>(w))
        return c->currentText();
    return QStringLiteral("<no text>");
}

// A window that is up and has the focus, as after the program's start.
struct ShownWindow {
    FrmMain w;
    ShownWindow()
    {
        w.show();
        w.activateWindow();
    }
    bool ready() { return QTest::qWaitForWindowActive(&w); }
};

void pick(QComboBox *combo, int row)
{
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QVERIFY(QTest::qWaitForWindowExposed(view->window()));
    const QRect r = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
}

}  // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void init() { clearStore(); }

    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("twips");
        auto row = [](const char *name, const char *in, const QString &text, int l, int t, int w, int h) {
            QTest::newRow(name) << QString(name) << QString(in) << text << QRect(l, t, w, h);
        };
        row("Label2(0)", "FrmMain", "지정한 서버의 DB를  현컴퓨터(로컬)로 복사합니다.", 165, 90, 4170, 180);
        row("Label2(1)", "FrmMain",
            "※DB삭제구문이 있기 때문에 절대로 실서버에서 이 프로그램을 돌리지 마세요!(개발자컴에서만 사용권장)",
            165, 405, 5175, 495);
        row("Frame1", "FrmMain", "작업범위", 221, 990, 5010, 1005);
        row("cmdChkAll", "Frame1", "전체해제", 225, 270, 855, 555);
        row("chkWork(0)", "Frame1", "&1. DB dump", 1245, 225, 2535, 225);
        row("chkWork(1)", "Frame1", "&2. DB import(DB생성포함)", 1245, 450, 2535, 225);
        row("chkWork(2)", "Frame1", "&3. 유저생성", 1245, 675, 2535, 225);
        row("Frame2", "FrmMain", "원본 DATABASE", 221, 2070, 5010, 1365);
        row("Label3(0)", "Frame2", "&HOST:", 495, 285, 630, 180);
        row("cmbField(0)", "Frame2", "", 1215, 225, 2760, 300);
        row("Label3(1)", "Frame2", "&DB:", 765, 630, 345, 180);
        row("cmbField(1)", "Frame2", "", 1215, 585, 2760, 300);
        row("Label3(2)", "Frame2", "&USER:", 540, 990, 615, 180);
        row("txtField(0)", "Frame2", "", 1215, 945, 2760, 285);
        row("Frame3", "FrmMain", "dump", 221, 3510, 5010, 1140);
        row("Label3(4)", "Frame3", "&option:", 225, 315, 570, 180);
        row("txtField(1)", "Frame3", "-q -e", 900, 225, 3840, 330);
        row("Label3(3)", "Frame3", "결과파일:", 180, 705, 780, 180);
        row("Label4", "Frame3", ".\\dump\\dbname_2.sql", 1080, 705, 2055, 180);
        // One row taller than given, for the changed-tables-only box; the buttons move down with it.
        row("Frame4", "FrmMain", "import", 221, 4725, 5010, 2295);
        row("chkField(0)", "Frame4", "외래키 처리", 315, 270, 1590, 195);
        row("chkField(2)", "Frame4", "온라인주문용 유저 생성", 2115, 270, 2310, 195);
        row("Label3(7)", "Frame4", "외래키파일경로:", 225, 585, 1320, 180);
        row("txtField(4)", "Frame4", "D:\\CS_새사용자\\SQL\\특수SQL", 1620, 540, 3120, 285);
        row("chkField(1)", "Frame4", "로컬에 동일 DB명 존재시 묻지 않고 바로 삭제", 315, 1035, 4155, 195);
        row("Label3(6)", "Frame4", "&New DB:", 450, 1395, 750, 180);
        row("txtField(3)", "Frame4", "", 1260, 1350, 1995, 285);
        row("Label1(0)", "Frame4", "(공란시 기본처리)", 3330, 1395, 1470, 180);
        row("Label3(5)", "Frame4", "N&ew USER:", 225, 1710, 990, 180);
        row("txtField(2)", "Frame4", "", 1260, 1665, 1995, 285);
        row("Label1(1)", "Frame4", "(공란시 기본처리)", 3330, 1710, 1470, 180);
        row("chkChangedOnly", "Frame4", "변경된 테이블만 복사 (기존 Local DB 갱신)", 315, 2010, 4155, 195);
        row("cmdCopy", "FrmMain", "복사", 810, 7140, 1815, 645);
        row("cmdClose", "FrmMain", "닫기", 2760, 7140, 1815, 645);
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QString, in);
        QFETCH(QString, text);
        QFETCH(QRect, twips);
        FrmMain w;
        auto *control = w.findChild<QWidget *>(name);
        QVERIFY2(control, qPrintable(name));
        QCOMPARE(control->parentWidget()->objectName(), in);
        QCOMPARE(textOf(control), text);
        const QRect given(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height()));
        // Fitted to their captions in the font at hand: at least as wide, never moved up or left.
        if (QStringList{"cmdChkAll", "chkWork(0)", "chkWork(1)", "chkWork(2)", "Label4"}.contains(name)) {
            QCOMPARE(control->y(), given.y());
            QCOMPARE(control->height(), given.height());
            QVERIFY(control->x() >= given.x());
            QVERIFY(control->width() >= given.width());
        } else {
            QCOMPARE(control->geometry(), given);
        }
    }

    void windowAndLists()
    {
        FrmMain w;
        // 5490 twips wide; 7920 twips high (the given 7665 and the import group's added row) plus
        // the progress row under the buttons.
        QCOMPARE(w.width(), 366);
        QVERIFY(w.height() > 528);
        QVERIFY(w.pgbCopy->geometry().top() >= w.cmdCopy->geometry().bottom());
        QVERIFY(w.lblStatus->geometry().top() >= w.pgbCopy->geometry().bottom());
        QVERIFY(w.lblStatus->geometry().bottom() < w.height());
        QCOMPARE(w.minimumSize(), w.maximumSize());

        QCOMPARE(items(w.cmbField[0]).size(), 3);
        QCOMPARE(items(w.cmbField[0]).first(), QString("localhost"));
        QCOMPARE(items(w.cmbField[1]), (QStringList{"pelsar_", "dorvik_", "lumetta_", "brisco_"}));
        QVERIFY(w.cmbField[0]->isEditable());
        QVERIFY(w.cmbField[1]->isEditable());
        QCOMPARE(w.cmdCancel->text(), QString("취소"));
        QVERIFY(!w.cmdCancel->isEnabled());
        QVERIFY(!w.cmdCopy->isDefault());
    }

    void fontsAndColours()
    {
        FrmMain w;
        const QStringList bold{"Frame1", "Frame2", "Frame3", "Frame4", "Label3(0)", "Label3(1)",
                               "Label3(2)", "Label2(1)", "cmdCopy"};
        const QStringList plain{"Label2(0)", "cmdChkAll", "chkWork(0)", "Label3(3)", "Label3(4)",
                                "Label4", "txtField(0)", "cmbField(0)", "chkField(1)", "Label3(5)",
                                "cmdClose"};
        const bool koreanInstalled = QFontDatabase::families().contains("NanumGothic")
                                  || QFontDatabase::families().contains("Gulim");
        for (const QString &name : bold + plain) {
            auto *c = w.findChild<QWidget *>(name);
            QVERIFY2(c, qPrintable(name));
            const QFontInfo info(c->font());
            QCOMPARE(info.bold(), bold.contains(name));
            QCOMPARE(c->font().pointSize(), 9);
            if (koreanInstalled)
                QVERIFY2(QStringList({"Gulim", "굴림", "NanumGothic"}).contains(info.family()),
                         qPrintable(name + ": " + info.family()));
        }
        QVERIFY(w.Label2[1]->wordWrap());
        QCOMPARE(w.Label2[1]->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        for (QWidget *c : {(QWidget *)w.cmbField[0], (QWidget *)w.cmbField[1], (QWidget *)w.txtField[0]})
            QCOMPARE(c->palette().color(QPalette::Base), QColor(255, 255, 0));
        for (QWidget *c : {(QWidget *)w.txtField[1], (QWidget *)w.txtField[3]})
            QVERIFY(c->palette().color(QPalette::Base) != QColor(255, 255, 0));
    }

    // Text on the yellow fields reads under any system colours.
    void requiredFieldsReadable_data()
    {
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(Qt::black);
        QTest::newRow("dark") << QColor(0xee, 0xee, 0xee);
    }
    void requiredFieldsReadable()
    {
        QFETCH(QColor, text);
        const QPalette before = QApplication::palette();
        const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
        QPalette system = before;
        system.setColor(QPalette::Text, text);
        system.setColor(QPalette::Base, QColor(0xff - text.red(), 0xff - text.green(), 0xff - text.blue()));
        QApplication::setPalette(system);
        FrmMain w;
        for (QWidget *field : {(QWidget *)w.cmbField[0]->lineEdit(), (QWidget *)w.cmbField[1]->lineEdit(),
                               (QWidget *)w.txtField[0]}) {
            const QPalette p = field->palette();
            QVERIFY(qAbs(qGray(p.color(QPalette::Text).rgb()) - qGray(p.color(QPalette::Base).rgb())) >= 128);
        }
    }

    // "전체해제" and the result file's name are whole in the program's font under every style the
    // platform offers (Windows' own style has narrower button faces than Fusion).
    void captionsWhole_data()
    {
        QTest::addColumn<QString>("style");
        for (const QString &key : QStyleFactory::keys())
            QTest::newRow(qPrintable(key)) << key;
    }
    void captionsWhole()
    {
        QFETCH(QString, style);
        QStyle *previous = QApplication::style();
        const QString previousName = previous->name();
        QApplication::setStyle(QStyleFactory::create(style));
        const auto restore = qScopeGuard([&] { QApplication::setStyle(QStyleFactory::create(previousName)); });
        FrmMain w;
        QStyleOptionButton option;
        option.initFrom(w.cmdChkAll);
        const QRect face = w.cmdChkAll->style()->subElementRect(QStyle::SE_PushButtonContents, &option, w.cmdChkAll);
        QVERIFY2(w.cmdChkAll->fontMetrics().horizontalAdvance(w.cmdChkAll->text()) <= face.width(),
                 qPrintable(QFontInfo(w.cmdChkAll->font()).family()));
        QVERIFY(w.cmdChkAll->geometry().right() < w.chkWork[0]->geometry().left());
        for (QCheckBox *c : w.chkWork)
            QVERIFY(c->geometry().right() < w.Frame1->width());
        QVERIFY(w.Label4->sizeHint().width() <= w.Label4->width());
        QVERIFY(w.Label4->geometry().right() < w.Frame3->width());
    }

    // Qt's built-in texts come in Korean once the program has loaded its translations.
    void builtInTextsInKorean_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("korean");
        QTest::newRow("text box menu") << "QLineEdit" << "&Copy" << "복사(&C)";
        QTest::newRow("text box menu, all") << "QLineEdit" << "Select All" << "모두 선택";
        QTest::newRow("log window menu") << "QWidgetTextControl" << "&Copy" << "복사(&C)";
        QTest::newRow("dialog button") << "QPlatformTheme" << "Cancel" << "취소";
    }
    void builtInTextsInKorean()
    {
        QFETCH(QString, context);
        QFETCH(QString, english);
        QFETCH(QString, korean);
        const std::unique_ptr<QTranslator> installed(installQtTranslations());
        QVERIFY(installed);
        QCOMPARE(QCoreApplication::translate(context.toUtf8(), english.toUtf8()), korean);
    }

    void captionHasTheBuildVersion()
    {
        FrmMain w;
        QCOMPARE(w.windowTitle(), QString("Mysql DB복사 v" VELMAR_TEST_PROJECT_VERSION));
    }

    void firstStartShowsDefaults()
    {
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QCOMPARE(w.cmbField[0]->currentText(), QString());
        QCOMPARE(w.cmbField[1]->currentText(), QString());
        QCOMPARE(w.txtField[0]->text(), QString());
        QCOMPARE(w.txtField[1]->text(), QString("-q -e"));
        QCOMPARE(w.txtField[2]->text(), QString());
        QCOMPARE(w.txtField[3]->text(), QString());
        QCOMPARE(w.txtField[4]->text(), QString("D:\\CS_새사용자\\SQL\\특수SQL"));
        QVERIFY(w.chkField[0]->isChecked());
        QVERIFY(!w.chkField[1]->isChecked());
        QVERIFY(!w.chkField[2]->isChecked());
        for (QCheckBox *stage : w.chkWork)
            QVERIFY(stage->isChecked());
        QVERIFY(w.txtField[4]->isEnabled());
        QCOMPARE(focusName(&w), QString("cmbField(0)"));
        QCOMPARE(storedKeys(), QStringList());
    }

    void restoreWritesNothing_data()
    {
        QTest::addColumn<QString>("foreign");
        QTest::addColumn<bool>("foreignTicked");
        QTest::newRow("foreign 0") << "0" << false;
        QTest::newRow("foreign 1") << "1" << true;
    }
    void restoreWritesNothing()
    {
        QFETCH(QString, foreign);
        QFETCH(bool, foreignTicked);
        presetStore({"Host", "devdb1.example.com", "SrcDB", "dorvik_", "SrcUser", "홍길동",
                     "DumpOption", "", "foreign", foreign, "foreignPath", "  C:\\fk ",
                     "ExistDBDel", "1", "OnOrdUser", "1", "NewDB", "dorvik_x_y", "NewUser", "other"});
        QFile file(rawStore()->fileName());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QCOMPARE(w.cmbField[0]->currentText(), QString("devdb1.example.com"));
        QCOMPARE(w.cmbField[1]->currentText(), QString("dorvik_"));
        QCOMPARE(w.txtField[0]->text(), QString("홍길동"));
        // An emptied field stays empty: it does not fall back to its default.
        QCOMPARE(w.txtField[1]->text(), QString());
        QCOMPARE(w.chkField[0]->isChecked(), foreignTicked);
        QCOMPARE(w.txtField[4]->text(), QString("  C:\\fk "));
        QVERIFY(w.chkField[1]->isChecked());
        QVERIFY(w.chkField[2]->isChecked());
        // Restoring New DB derives nothing: New USER keeps its own stored value.
        QCOMPARE(w.txtField[3]->text(), QString("dorvik_x_y"));
        QCOMPARE(w.txtField[2]->text(), QString("other"));
        // The folder box is enabled at every start, whatever the restored option.
        QVERIFY(w.txtField[4]->isEnabled());
        for (QCheckBox *stage : w.chkWork)
            QVERIFY(stage->isChecked());

        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void editsSaveKeyByKey_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("typed");
        QTest::newRow("host") << "cmbField(0)" << "Host" << "db-1";
        QTest::newRow("prefix") << "cmbField(1)" << "SrcDB" << "pelsar_";
        QTest::newRow("user") << "txtField(0)" << "SrcUser" << "kim";
        QTest::newRow("options") << "txtField(1)" << "DumpOption" << " -R";
        QTest::newRow("new user") << "txtField(2)" << "NewUser" << "lee";
        QTest::newRow("new DB without _") << "txtField(3)" << "NewDB" << "copy";
        QTest::newRow("folder") << "txtField(4)" << "foreignPath" << "\\sub 폴더";
    }
    void editsSaveKeyByKey()
    {
        QFETCH(QString, field);
        QFETCH(QString, key);
        QFETCH(QString, typed);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        auto *control = w.findChild<QWidget *>(field);
        QWidget *target = qobject_cast<QComboBox *>(control) ? qobject_cast<QComboBox *>(control)->lineEdit()
                                                             : control;
        target->setFocus();
        QTest::keyClick(target, Qt::Key_End);
        const QString start = textOf(control);
        for (qsizetype i = 0; i < typed.size(); ++i) {
            typeText(target, typed.mid(i, 1));
            QCOMPARE(textOf(control), start + typed.left(i + 1));
            QCOMPARE(stored(key), textOf(control));
            QCOMPARE(storedKeys(), QStringList{"Config/" + key});
        }
        // Emptied: stored as empty, and read back empty at the next start.
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Delete);
        QCOMPARE(stored(key), QString());
        FrmMain next;
        QCOMPARE(textOf(next.findChild<QWidget *>(field)), QString());
    }

    // pelsar_lee typed into New DB: New USER is left alone until the "_", then follows what
    // comes after it; New USER is saved before New DB at every change.
    void newDbDerivesNewUser()
    {
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        typeText(w.txtField[2], "kim");
        QStringList dbAtUserChange;
        connect(w.txtField[2], &QLineEdit::textChanged, this,
                [&] { dbAtUserChange << stored("NewUser") + "|" + stored("NewDB"); });

        QStringList users, storedUsers, storedDBs;
        for (const QChar c : QString("pelsar_lee")) {
            typeText(w.txtField[3], QString(c));
            users << w.txtField[2]->text();
            storedUsers << stored("NewUser");
            storedDBs << stored("NewDB");
        }
        QCOMPARE(users, (QStringList{"kim", "kim", "kim", "kim", "kim", "kim", "", "l", "le", "lee"}));
        QCOMPARE(storedUsers, users);
        QCOMPARE(storedDBs, (QStringList{"p", "pe", "pel", "pels", "pelsa", "pelsar", "pelsar_",
                                         "pelsar_l", "pelsar_le", "pelsar_lee"}));
        QCOMPARE(dbAtUserChange, (QStringList{"|pelsar", "l|pelsar_", "le|pelsar_l", "lee|pelsar_le"}));

        // Deleting all of New DB empties New USER.
        QTest::keyClick(w.txtField[3], Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w.txtField[3], Qt::Key_Backspace);
        QCOMPARE(w.txtField[2]->text(), QString());
        QCOMPARE(stored("NewUser"), QString());
        QCOMPARE(stored("NewDB"), QString());
    }

    void newUserDerivation_data()
    {
        QTest::addColumn<QString>("newDB");
        QTest::addColumn<QString>("newUser");
        QTest::newRow("_ at position 1 only") << "_abc" << "kim";
        QTest::newRow("no _") << "abc" << "kim";
        QTest::newRow("last _ counts") << "a_b_c" << "c";
        QTest::newRow("ends in _") << "abc_" << "";
        QTest::newRow("_ at 1 and later") << "_a_b" << "b";
        QTest::newRow("two _ at the end") << "x__" << "";
        QTest::newRow("hangul") << "한글_사용자" << "사용자";
    }
    void newUserDerivation()
    {
        QFETCH(QString, newDB);
        QFETCH(QString, newUser);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        typeText(w.txtField[2], "kim");
        typeText(w.txtField[3], newDB);
        QCOMPARE(w.txtField[2]->text(), newUser);
        QCOMPARE(stored("NewUser"), newUser);
        QCOMPARE(stored("NewDB"), newDB);
    }

    void optionBoxesSave_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("key");
        QTest::newRow("foreign") << 0 << "foreign";
        QTest::newRow("drop without asking") << 1 << "ExistDBDel";
        QTest::newRow("_ord user") << 2 << "OnOrdUser";
    }
    void optionBoxesSave()
    {
        QFETCH(int, index);
        QFETCH(QString, key);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QCheckBox *box = w.chkField[index];
        const bool was = box->isChecked();
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(box->isChecked(), !was);
        QCOMPARE(stored(key), was ? QString("0") : QString("1"));
        QCOMPARE(storedKeys(), QStringList{"Config/" + key});
        QCOMPARE(w.txtField[4]->isEnabled(), index == 0 ? !was : true);
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(stored(key), was ? QString("1") : QString("0"));
        QVERIFY(w.txtField[4]->isEnabled());
    }

    // The boxes added to the import group are remembered like the other option boxes and reach
    // the copy request.
    void addedBoxSavesAndRestores_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("key");
        QTest::addColumn<std::function<bool(const CopyRequest &)>>("inRequest");
        QTest::newRow("definers") << "chkDefiner" << "DefinerLocal"
                                  << std::function([](const CopyRequest &r) { return r.definers == CopyRequest::Definers::CreateLocked; });
        QTest::newRow("changed only") << "chkChangedOnly" << "ChangedOnly"
                                      << std::function([](const CopyRequest &r) { return r.changedOnly; });
    }
    void addedBoxSavesAndRestores()
    {
        QFETCH(QString, box);
        QFETCH(QString, key);
        QFETCH(std::function<bool(const CopyRequest &)>, inRequest);
        {
            ShownWindow s;
            QVERIFY(s.ready());
            auto *check = s.w.findChild<QCheckBox *>(box);
            QVERIFY(check && !check->isChecked());
            QVERIFY(!inRequest(s.w.copyRequest()));
            QTest::mouseClick(check, Qt::LeftButton);
            QCOMPARE(stored(key), QString("1"));
            QVERIFY(inRequest(s.w.copyRequest()));
        }
        ShownWindow again;
        QVERIFY(again.ready());
        QVERIFY(again.w.findChild<QCheckBox *>(box)->isChecked());
        QVERIFY(inRequest(again.w.copyRequest()));
    }

    void pickedItemSavesAtOnce_data()
    {
        QTest::addColumn<int>("combo");
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("typedFirst");
        QTest::newRow("localhost into an empty host") << 0 << "Host" << 0 << "";
        QTest::newRow("the host already typed") << 0 << "Host" << 0 << "localhost";
        QTest::newRow("third host") << 0 << "Host" << 2 << "x";
        QTest::newRow("prefix") << 1 << "SrcDB" << 3 << "";
    }
    void pickedItemSavesAtOnce()
    {
        QFETCH(int, combo);
        QFETCH(QString, key);
        QFETCH(int, row);
        QFETCH(QString, typedFirst);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QComboBox *c = w.cmbField[combo];
        typeText(c->lineEdit(), typedFirst);
        clearStore();
        pick(c, row);
        QCOMPARE(c->currentText(), c->itemText(row));
        QCOMPARE(stored(key), c->itemText(row));
        QCOMPARE(storedKeys(), QStringList{"Config/" + key});
    }

    void uncheckAll_data()
    {
        QTest::addColumn<QList<bool>>("before");
        QTest::newRow("all ticked") << QList<bool>{true, true, true};
        QTest::newRow("some ticked") << QList<bool>{false, true, false};
        QTest::newRow("none ticked") << QList<bool>{false, false, false};
    }
    void uncheckAll()
    {
        QFETCH(QList<bool>, before);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        for (int i = 0; i < 3; ++i)
            w.chkWork[i]->setChecked(before[i]);
        QTest::mouseClick(w.cmdChkAll, Qt::LeftButton);
        for (QCheckBox *stage : w.chkWork)
            QVERIFY(!stage->isChecked());
        QTest::mouseClick(w.cmdChkAll, Qt::LeftButton);
        for (QCheckBox *stage : w.chkWork)
            QVERIFY(!stage->isChecked());
        // The stage boxes are not remembered.
        QCOMPARE(storedKeys(), QStringList());
    }

    void enterMovesTheFocus_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::newRow("host") << "cmbField(0)" << "cmbField(1)";
        QTest::newRow("prefix") << "cmbField(1)" << "txtField(0)";
        QTest::newRow("user") << "txtField(0)" << "txtField(1)";
        QTest::newRow("options") << "txtField(1)" << "txtField(3)";
        QTest::newRow("new DB") << "txtField(3)" << "txtField(2)";
        QTest::newRow("new user") << "txtField(2)" << "cmdCopy";
        QTest::newRow("folder, last") << "txtField(4)" << "cmbField(0)";
    }
    void enterMovesTheFocus()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        auto *control = w.findChild<QWidget *>(from);
        control->setFocus();
        QCOMPARE(focusName(&w), from);
        typeText(w.focusWidget(), "LOCALHOST");
        QTest::keyClick(w.focusWidget(), Qt::Key_Return);
        QCOMPARE(focusName(&w), to);
        // The typed text stays as typed, in the list boxes too.
        QVERIFY(textOf(control).endsWith("LOCALHOST"));
        QCOMPARE(w.cmbField[0]->count(), 3);
        QCOMPARE(w.cmbField[1]->count(), 4);
    }

    void tabOrder()
    {
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QStringList order{focusName(&w)};
        for (int i = 0; i < 18; ++i) {
            QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
            order << focusName(&w);
        }
        QCOMPARE(order, (QStringList{"cmbField(0)", "cmbField(1)", "txtField(0)", "txtField(1)",
                                     "txtField(3)", "txtField(2)", "cmdCopy", "chkWork(0)", "chkWork(1)",
                                     "chkWork(2)", "cmdChkAll", "chkField(0)", "cmdClose", "chkField(1)",
                                     "chkField(2)", "chkDefiner", "chkChangedOnly", "txtField(4)",
                                     "cmbField(0)"}));
    }

    void accessKeysReachTheFields_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("field");
        QTest::newRow("Alt+H") << int(Qt::Key_H) << "cmbField(0)";
        QTest::newRow("Alt+D") << int(Qt::Key_D) << "cmbField(1)";
        QTest::newRow("Alt+U") << int(Qt::Key_U) << "txtField(0)";
        QTest::newRow("Alt+O") << int(Qt::Key_O) << "txtField(1)";
        QTest::newRow("Alt+N") << int(Qt::Key_N) << "txtField(3)";
        QTest::newRow("Alt+E") << int(Qt::Key_E) << "txtField(2)";
    }
    void accessKeysReachTheFields()
    {
        QFETCH(int, key);
        QFETCH(QString, field);
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        w.cmdClose->setFocus();
        QTest::keyClick(&w, Qt::Key(key), Qt::AltModifier);
        QCOMPARE(focusName(&w), field);
    }

    void accessKeysToggleTheStages()
    {
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        const Qt::Key keys[3] = {Qt::Key_1, Qt::Key_2, Qt::Key_3};
        for (int i = 0; i < 3; ++i) {
            QTest::keyClick(&w, keys[i], Qt::AltModifier);
            QTRY_VERIFY(!w.chkWork[i]->isChecked());
            for (int j = i + 1; j < 3; ++j)
                QVERIFY(w.chkWork[j]->isChecked());
        }
        QTest::keyClick(&w, Qt::Key_2, Qt::AltModifier);
        QTRY_VERIFY(w.chkWork[1]->isChecked());
        QVERIFY(!w.chkWork[0]->isChecked());
        QVERIFY(!w.chkWork[2]->isChecked());
    }

    // Each check of the copy button, through the window: its message (an OK box with the
    // program's title) and where the focus goes; the log window stays untouched.
    void validation_data()
    {
        QTest::addColumn<QList<bool>>("stages");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("newDB");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<QString>("folder");  // "<dir>": a folder made for the test
        QTest::addColumn<QStringList>("scripts");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");  // "cmdCopy": left where the click put it

        const QList<bool> all{true, true, true};
        const QStringList both{"pelsar_tables외래키.SQL", "dorvik_tables외래키.SQL"};
        QTest::newRow("no stage") << QList<bool>{false, false, false} << "db" << "pelsar_" << "kim" << ""
                                  << false << "" << both << "작업범위가 선택되지 않았습니다." << "chkWork(0)";
        QTest::newRow("no host") << all << "" << "pelsar_" << "kim" << "x" << false << "" << both
                                 << "host를 입력하세요." << "cmbField(0)";
        QTest::newRow("localhost without new DB")
            << all << "localhost" << "pelsar_" << "kim" << "" << false << "" << both
            << "HOST가 localhost일 경우 New DB는 다른 이름으로 반드시 입력되어야 합니다." << "txtField(3)";
        QTest::newRow("no prefix") << all << "db" << "" << "kim" << "" << false << "" << both
                                   << "db를 입력하세요." << "cmbField(1)";
        QTest::newRow("blank host passes, no prefix")
            << all << "  " << "" << "kim" << "" << false << "" << both << "db를 입력하세요." << "cmbField(1)";
        QTest::newRow("no user") << all << "db" << "pelsar_" << "" << "" << false << "" << both
                                 << "User를 입력하세요." << "txtField(0)";
        QTest::newRow("blank folder") << all << "db" << "pelsar_" << "kim" << "" << true << "   " << both
                                      << "외래키 스크립트 파일경로가 설정되어 있지 않습니다." << "txtField(4)";
        QTest::newRow("pelsar script missing")
            << all << "db" << "lumetta_" << "kim" << "" << true << "<dir>" << QStringList{"dorvik_tables외래키.SQL"}
            << "pelsar_tables외래키.SQL 파일이 존재하지 않습니다." << "cmdCopy";
        QTest::newRow("dorvik script missing")
            << all << "db" << "pelsar_" << "kim" << "" << true << "<dir>" << QStringList{"pelsar_tables외래키.SQL"}
            << "dorvik_tables외래키.SQL 파일이 존재하지 않습니다." << "cmdCopy";
        QTest::newRow("both missing") << all << "db" << "pelsar_" << "kim" << "" << true << "<dir>" << QStringList{}
                                      << "pelsar_tables외래키.SQL 파일이 존재하지 않습니다." << "cmdCopy";
        QTest::newRow("local source under its own name")
            << all << "127.0.0.1" << "pelsar_" << "kim" << "pelsar_kim" << false << "" << both
            << "원본 DB(pelsar_kim)가 로컬 서버에 있으므로 New DB는 다른 이름으로 반드시 입력되어야 합니다."
            << "txtField(3)";
    }
    void validation()
    {
        QFETCH(QList<bool>, stages);
        QFETCH(QString, host);
        QFETCH(QString, prefix);
        QFETCH(QString, user);
        QFETCH(QString, newDB);
        QFETCH(bool, foreign);
        QFETCH(QString, folder);
        QFETCH(QStringList, scripts);
        QFETCH(QString, message);
        QFETCH(QString, focus);

        QTemporaryDir dir;
        if (folder == "<dir>") {
            folder = dir.path();
            for (const QString &name : scripts) {
                QFile f(dir.filePath(name));
                QVERIFY(f.open(QIODevice::WriteOnly));
            }
        }
        RecordingMessenger rec;
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        for (int i = 0; i < 3; ++i)
            w.chkWork[i]->setChecked(stages[i]);
        w.cmbField[0]->setEditText(host);
        w.cmbField[1]->setEditText(prefix);
        w.txtField[0]->setText(user);
        w.txtField[3]->setText(newDB);
        w.chkField[0]->setChecked(foreign);
        w.txtField[4]->setText(folder);
        // As the last copy left them: nothing of it shows under this click's message.
        w.onStageStarted(CopyStage::Done);

        QTest::mouseClick(w.cmdCopy, Qt::LeftButton);
        QCOMPARE(rec.messageTexts(), QStringList{message});
        QCOMPARE(w.lblStatus->text(), QString());
        QCOMPARE(w.pgbCopy->value(), 0);
        const Message box = rec.messages().first();
        QCOMPARE(box.buttons, Buttons::Ok);
        QCOMPARE(box.icon, Icon::None);
        QCOMPARE(box.title, QString());
        QCOMPARE(focusName(&w), focus);
        QVERIFY(!w.isCopyRunning());
        QVERIFY(w.cmdCopy->isEnabled());
        QCOMPARE(rec.clearCount(), 0);
        QVERIFY(!w.loadedLogWindow());
    }

    void progressDisplay_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("speed");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("status");
        QTest::newRow("load half way") << int(CopyStage::Import) << qint64(512) << qint64(1024) << 2048.0
                                       << 100 << 50 << "가져오기: 50% (512 B / 1.0 KB), 2.0 KB/s";
        QTest::newRow("load in MB") << int(CopyStage::Import) << qint64(3 << 20) << qint64(4 << 20)
                                    << 1.5 * (1 << 20) << 100 << 75
                                    << "가져오기: 75% (3.0 MB / 4.0 MB), 1.5 MB/s";
        QTest::newRow("load past its total") << int(CopyStage::Import) << qint64(11) << qint64(10) << 1.0
                                             << 100 << 100 << "가져오기: 100% (11 B / 10 B), 1 B/s";
        QTest::newRow("dump of unknown size") << int(CopyStage::Dump) << qint64(1536) << qint64(-1) << 100.0
                                              << 0 << -1 << "덤프: 1.5 KB, 100 B/s";
    }
    void progressDisplay()
    {
        QFETCH(int, stage);
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(double, speed);
        QFETCH(int, maximum);
        QFETCH(int, value);
        QFETCH(QString, status);
        FrmMain w;
        w.onStageStarted(CopyStage(stage));
        w.onProgress(CopyStage(stage), done, total, speed);
        QCOMPARE(w.pgbCopy->maximum(), maximum);
        if (value >= 0)
            QCOMPARE(w.pgbCopy->value(), value);
        QCOMPARE(w.lblStatus->text(), status);
    }

    void addLogLoadsTheLogWindowHidden()
    {
        ShownWindow s;
        FrmMain &w = s.w;
        QVERIFY(s.ready());
        QVERIFY(!w.loadedLogWindow());
        w.AddLog("a");
        w.AddLog("");
        QPointer<FrmLog> log = w.loadedLogWindow();
        QVERIFY(log);
        QVERIFY(!log->isVisible());
        QCOMPARE(log->text(), QString("a\r\n\r\n"));

        // Emptied and shown at the start of a copy, beside the main window, with the focus.
        w.clearAndShowLog();
        QVERIFY(log->isVisible());
        QCOMPARE(log->text(), QString());
        QVERIFY(w.screen()->availableGeometry().contains(log->frameGeometry()));
        QCOMPARE(log->focusWidget(), log->Text1);

        // Closed: the next entry loads a fresh window.
        log->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(log.isNull());
        w.AddLog("b");
        QCOMPARE(w.loadedLogWindow()->text(), QString("b\r\n"));
    }

    void closingTheMainWindowClosesTheLog()
    {
        FrmMain w;
        w.show();
        w.clearAndShowLog();
        QPointer<FrmLog> log = w.loadedLogWindow();
        QVERIFY(log && log->isVisible());
        QTest::mouseClick(w.cmdClose, Qt::LeftButton);
        QVERIFY(!w.isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(log.isNull());
        // Nothing is saved on exit.
        QCOMPARE(storedKeys(), QStringList());
    }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
