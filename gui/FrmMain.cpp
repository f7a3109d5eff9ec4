#include "FrmMain.h"

#include "FrmLog.h"
#include "GuiMessenger.h"
#include "ProgramInfo.h"
#include "ProgressText.h"
#include "SettingsStore.h"
#include "UiFont.h"
#include "modZephlane_Launcher.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMutexLocker>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>

namespace velmar {

namespace {

// 15 twips are one pixel at 96 dots per inch.
int tw(int twips)
{
    return qRound(twips / 15.0);
}

QRect twRect(int left, int top, int width, int height)
{
    return QRect(tw(left), tw(top), tw(width), tw(height));
}

// The width at which the button's style has room for its caption on one line. The given widths
// suit 굴림; 맑은 고딕 (the system's own font) or another style may need more.
int widthForCaption(QPushButton *button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect face = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const int missing = button->fontMetrics().horizontalAdvance(button->text()) + 2 - face.width();
    return button->width() + qMax(0, missing);
}

// The given client area, and the row added under the buttons for the running copy.
constexpr int kClientWidth = 5490;
// The import group is one row taller than given, for the box of the changed-tables-only copy.
constexpr int kImportRow = 255;
constexpr int kClientHeight = 7665 + kImportRow;
constexpr int kProgressTop = kClientHeight / 15;  // px, just under the client area
constexpr int kProgressHeight = 22;
constexpr int kStatusTop = kProgressTop + kProgressHeight + 5;
constexpr int kStatusHeight = 16;
constexpr int kExtraHeight = kStatusTop + kStatusHeight + 8 - kProgressTop;

// The key that remembers each field.
constexpr int kTxtFieldKey[5] = {cfgSrcUser, cfgDumpOption, cfgNewUser, cfgNewDB, cfgForeignPath};
constexpr int kCmbFieldKey[2] = {cfgHost, cfgSrcDB};
constexpr int kChkFieldKey[3] = {cfgForeign, cfgExistDBDel, cfgOnOrdUser};

}  // namespace

FrmMain::FrmMain(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FrmMain"));
    m_messenger = new GuiMessenger(this);
    m_task = new CopyTask(this);
    connect(m_task, &CopyTask::stageStarted, this, &FrmMain::onStageStarted);
    connect(m_task, &CopyTask::progress, this, &FrmMain::onProgress);
    connect(m_task, &CopyTask::focusRequested, this, [this](FieldId field) { m_pendingFocus = field; });
    connect(m_task, &CopyTask::finished, this, &FrmMain::onCopyEnded);
    buildControls();
    Form_Load();
}

FrmMain::~FrmMain()
{
    // A window destroyed without a close (end of a test, say) must not leave its copy running.
    if (m_task->isRunning()) {
        m_messenger->setClosing(true);
        m_task->cancel();
        m_task->wait();
    }
}

QSize FrmMain::clientSize()
{
    return QSize(tw(kClientWidth), tw(kClientHeight) + kExtraHeight);
}

void FrmMain::buildControls()
{
    setWindowTitle(QStringLiteral("Mysql DB복사"));
    setFixedSize(clientSize());
    const QFont plain = uiFont(false);
    const QFont bold = uiFont(true);
    setFont(plain);

    auto label = [&](QWidget *in, const QString &name, const QString &text, const QRect &r) {
        auto *l = new QLabel(text, in);
        l->setObjectName(name);
        l->setTextFormat(Qt::PlainText);
        l->setFont(plain);
        l->setGeometry(r);
        return l;
    };
    auto group = [&](const QString &name, const QString &title, const QRect &r) {
        auto *g = new QGroupBox(title, this);
        g->setObjectName(name);
        g->setFont(bold);
        g->setGeometry(r);
        return g;
    };
    auto checkBox = [&](QWidget *in, const QString &name, const QString &text, const QRect &r) {
        auto *c = new QCheckBox(text, in);
        c->setObjectName(name);
        c->setFont(plain);
        c->setGeometry(r);
        return c;
    };
    auto lineEdit = [&](QWidget *in, const QString &name, const QRect &r) {
        auto *e = new QLineEdit(in);
        e->setObjectName(name);
        e->setFont(plain);
        e->setGeometry(r);
        return e;
    };
    auto comboBox = [&](QWidget *in, const QString &name, const QRect &r, const auto &items) {
        auto *c = new QComboBox(in);
        c->setObjectName(name);
        c->setFont(plain);
        c->setEditable(true);
        // The typed text is the value: no completion, and Enter never adds to the list.
        c->setCompleter(nullptr);
        c->setInsertPolicy(QComboBox::NoInsert);
        for (const char16_t *item : items)
            c->addItem(QString::fromUtf16(item));
        c->setCurrentIndex(-1);
        c->setEditText(QString());
        c->setGeometry(r);
        return c;
    };

    // The required fields: yellow, with black text whatever the system's colours (a dark theme's
    // light text would not read on yellow).
    QPalette yellow = palette();
    yellow.setColor(QPalette::Base, QColor(255, 255, 0));
    yellow.setColor(QPalette::Text, QColor(0, 0, 0));

    Label2[0] = label(this, QStringLiteral("Label2(0)"),
                      QStringLiteral("지정한 서버의 DB를  현컴퓨터(로컬)로 복사합니다."),
                      twRect(165, 90, 4170, 180));
    Label2[1] = label(this, QStringLiteral("Label2(1)"),
                      QStringLiteral("※DB삭제구문이 있기 때문에 절대로 실서버에서 이 프로그램을 "
                                     "돌리지 마세요!(개발자컴에서만 사용권장)"),
                      twRect(165, 405, 5175, 495));
    Label2[1]->setFont(bold);
    Label2[1]->setWordWrap(true);
    {
        QPalette red = Label2[1]->palette();
        red.setColor(QPalette::WindowText, QColor(255, 0, 0));
        Label2[1]->setPalette(red);
    }

    Frame1 = group(QStringLiteral("Frame1"), QStringLiteral("작업범위"), twRect(221, 990, 5010, 1005));
    cmdChkAll = new QPushButton(QStringLiteral("전체해제"), Frame1);
    cmdChkAll->setObjectName(QStringLiteral("cmdChkAll"));
    cmdChkAll->setFont(plain);
    cmdChkAll->setGeometry(twRect(225, 270, 855, 555));
    chkWork[0] = checkBox(Frame1, QStringLiteral("chkWork(0)"), QStringLiteral("&1. DB dump"),
                          twRect(1245, 225, 2535, 225));
    chkWork[1] = checkBox(Frame1, QStringLiteral("chkWork(1)"),
                          QStringLiteral("&2. DB import(DB생성포함)"), twRect(1245, 450, 2535, 225));
    chkWork[2] = checkBox(Frame1, QStringLiteral("chkWork(2)"), QStringLiteral("&3. 유저생성"),
                          twRect(1245, 675, 2535, 225));
    // "전체해제" on one line whatever the Korean font and the style; the stages move over with it.
    if (const int grow = widthForCaption(cmdChkAll) - cmdChkAll->width(); grow > 0) {
        cmdChkAll->resize(cmdChkAll->width() + grow, cmdChkAll->height());
        for (QCheckBox *c : chkWork)
            c->move(c->x() + grow, c->y());
    }

    Frame2 = group(QStringLiteral("Frame2"), QStringLiteral("원본 DATABASE"),
                   twRect(221, 2070, 5010, 1365));
    Label3[0] = label(Frame2, QStringLiteral("Label3(0)"), QStringLiteral("&HOST:"),
                      twRect(495, 285, 630, 180));
    cmbField[0] = comboBox(Frame2, QStringLiteral("cmbField(0)"), twRect(1215, 225, 2760, 300), kHostList);
    Label3[1] = label(Frame2, QStringLiteral("Label3(1)"), QStringLiteral("&DB:"),
                      twRect(765, 630, 345, 180));
    cmbField[1] = comboBox(Frame2, QStringLiteral("cmbField(1)"), twRect(1215, 585, 2760, 300),
                           kPrefixList);
    Label3[2] = label(Frame2, QStringLiteral("Label3(2)"), QStringLiteral("&USER:"),
                      twRect(540, 990, 615, 180));
    txtField[0] = lineEdit(Frame2, QStringLiteral("txtField(0)"), twRect(1215, 945, 2760, 285));
    for (int i = 0; i < 3; ++i)
        Label3[i]->setFont(bold);
    for (QWidget *w : {static_cast<QWidget *>(cmbField[0]), static_cast<QWidget *>(cmbField[1]),
                       static_cast<QWidget *>(txtField[0])})
        w->setPalette(yellow);

    Frame3 = group(QStringLiteral("Frame3"), QStringLiteral("dump"), twRect(221, 3510, 5010, 1140));
    Label3[4] = label(Frame3, QStringLiteral("Label3(4)"), QStringLiteral("&option:"),
                      twRect(225, 315, 570, 180));
    txtField[1] = lineEdit(Frame3, QStringLiteral("txtField(1)"), twRect(900, 225, 3840, 330));
    Label3[3] = label(Frame3, QStringLiteral("Label3(3)"), QStringLiteral("결과파일:"),
                      twRect(180, 705, 780, 180));
    Label4 = label(Frame3, QStringLiteral("Label4"), QStringLiteral(".\\dump\\dbname_2.sql"),
                   twRect(1080, 705, 2055, 180));
    // The whole file name, in a wider font too, as far as the option field reaches.
    Label4->resize(qBound(Label4->width(), Label4->sizeHint().width(), txtField[1]->geometry().right() - Label4->x()),
                   Label4->height());

    Frame4 = group(QStringLiteral("Frame4"), QStringLiteral("import"), twRect(221, 4725, 5010, 2040 + kImportRow));
    chkField[0] = checkBox(Frame4, QStringLiteral("chkField(0)"), QStringLiteral("외래키 처리"),
                           twRect(315, 270, 1590, 195));
    chkField[2] = checkBox(Frame4, QStringLiteral("chkField(2)"), QStringLiteral("온라인주문용 유저 생성"),
                           twRect(2115, 270, 2310, 195));
    Label3[7] = label(Frame4, QStringLiteral("Label3(7)"), QStringLiteral("외래키파일경로:"),
                      twRect(225, 585, 1320, 180));
    txtField[4] = lineEdit(Frame4, QStringLiteral("txtField(4)"), twRect(1620, 540, 3120, 285));
    chkField[1] = checkBox(Frame4, QStringLiteral("chkField(1)"),
                           QStringLiteral("로컬에 동일 DB명 존재시 묻지 않고 바로 삭제"),
                           twRect(315, 1035, 4155, 195));
    Label3[6] = label(Frame4, QStringLiteral("Label3(6)"), QStringLiteral("&New DB:"),
                      twRect(450, 1395, 750, 180));
    txtField[3] = lineEdit(Frame4, QStringLiteral("txtField(3)"), twRect(1260, 1350, 1995, 285));
    Label1[0] = label(Frame4, QStringLiteral("Label1(0)"), QStringLiteral("(공란시 기본처리)"),
                      twRect(3330, 1395, 1470, 180));
    Label3[5] = label(Frame4, QStringLiteral("Label3(5)"), QStringLiteral("N&ew USER:"),
                      twRect(225, 1710, 990, 180));
    txtField[2] = lineEdit(Frame4, QStringLiteral("txtField(2)"), twRect(1260, 1665, 1995, 285));
    Label1[1] = label(Frame4, QStringLiteral("Label1(1)"), QStringLiteral("(공란시 기본처리)"),
                      twRect(3330, 1710, 1470, 180));
    // Off: a definer the local server lacks becomes the granted account.
    chkDefiner = checkBox(Frame4, QStringLiteral("chkDefiner"), QStringLiteral("로컬에 없는 정의자 계정을 잠긴 계정으로 생성"),
                          twRect(315, 840, 4155, 195));

    cmdCopy = new QPushButton(QStringLiteral("복사"), this);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdCopy->setFont(bold);
    // Off: a full copy. On: only the tables that differ from the existing local database.
    chkChangedOnly = checkBox(Frame4, QStringLiteral("chkChangedOnly"), QStringLiteral("변경된 테이블만 복사 (기존 Local DB 갱신)"),
                              twRect(315, 2010, 4155, 195));

    cmdCopy->setGeometry(twRect(810, 6885 + kImportRow, 1815, 645));
    cmdClose = new QPushButton(QStringLiteral("닫기"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setFont(plain);
    cmdClose->setGeometry(twRect(2760, 6885 + kImportRow, 1815, 645));

    // The row for the running copy, aligned with the group boxes above it.
    const int left = tw(221);
    const int width = tw(5010);
    constexpr int cancelWidth = 60;
    pgbCopy = new QProgressBar(this);
    pgbCopy->setObjectName(QStringLiteral("pgbCopy"));
    pgbCopy->setGeometry(left, kProgressTop, width - cancelWidth - 6, kProgressHeight);
    pgbCopy->setRange(0, 100);
    pgbCopy->setValue(0);
    // A share shows only once there is one.
    pgbCopy->setTextVisible(false);
    cmdCancel = new QPushButton(QStringLiteral("취소"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(left + width - cancelWidth, kProgressTop - 1, cancelWidth, kProgressHeight + 2);
    cmdCancel->setEnabled(false);
    // The window shows the wait cursor during a copy; the way out must not look busy.
    cmdCancel->setCursor(Qt::ArrowCursor);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setGeometry(left, kStatusTop, width, kStatusHeight);

    // Access keys on labels lead to the field after them.
    Label3[0]->setBuddy(cmbField[0]);
    Label3[1]->setBuddy(cmbField[1]);
    Label3[2]->setBuddy(txtField[0]);
    Label3[4]->setBuddy(txtField[1]);
    Label3[6]->setBuddy(txtField[3]);
    Label3[5]->setBuddy(txtField[2]);

    const QWidget *tabOrder[] = {
        cmbField[0], cmbField[1], txtField[0], txtField[1], txtField[3], txtField[2],
        cmdCopy,     chkWork[0],  chkWork[1],  chkWork[2],  cmdChkAll,   chkField[0],
        cmdClose,    chkField[1], chkField[2], chkDefiner, chkChangedOnly, txtField[4], cmdCancel,
    };
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(const_cast<QWidget *>(tabOrder[i - 1]), const_cast<QWidget *>(tabOrder[i]));

    for (int i = 0; i < 2; ++i) {
        connect(cmbField[i], &QComboBox::editTextChanged, this, [this, i] { cmbField_Change(i); });
        connect(cmbField[i], &QComboBox::activated, this, [this, i] { cmbField_Click(i); });
        cmbField[i]->installEventFilter(this);
    }
    for (int i = 0; i < 5; ++i) {
        connect(txtField[i], &QLineEdit::textChanged, this, [this, i] { txtField_Change(i); });
        txtField[i]->installEventFilter(this);
    }
    for (int i = 0; i < 3; ++i)
        connect(chkField[i], &QCheckBox::toggled, this, [this, i] { chkField_Click(i); });
    connect(chkDefiner, &QCheckBox::toggled, this, [this](bool on) {
        if (isVisible())
            SaveSetting(kConfigSection, configKeyName(cfgDefinerLocal), on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(chkChangedOnly, &QCheckBox::toggled, this, [this](bool on) {
        if (isVisible())
            SaveSetting(kConfigSection, configKeyName(cfgChangedOnly), on ? QStringLiteral("1") : QStringLiteral("0"));
    });
    connect(cmdCopy, &QPushButton::clicked, this, &FrmMain::cmdCopy_Click);
    connect(cmdClose, &QPushButton::clicked, this, &FrmMain::cmdClose_Click);
    connect(cmdChkAll, &QPushButton::clicked, this, &FrmMain::cmdChkAll_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &FrmMain::cmdCancel_Click);

    cmbField[0]->setFocus();
}

void FrmMain::Form_Load()
{
    runStartupUpdate();

    const ProgramVersion v = programVersion();
    setWindowTitle(windowTitle() + QStringLiteral(" v") + QString::number(v.major) + u'.'
                   + QString::number(v.minor) + u'.' + QString::number(v.revision));

    // Restored in the store's reading order; the window is not visible yet, so none of this
    // is written back.
    const CopyRequest remembered = rememberedRequest();
    cmbField[0]->setEditText(remembered.host);
    cmbField[1]->setEditText(remembered.dbPrefix);
    txtField[0]->setText(remembered.user);
    txtField[1]->setText(remembered.dumpOption);
    chkField[0]->setChecked(remembered.foreign);
    txtField[4]->setText(remembered.foreignPath);
    chkField[1]->setChecked(remembered.existDBDel);
    chkField[2]->setChecked(remembered.onOrdUser);
    chkDefiner->setChecked(remembered.definers == CopyRequest::Definers::CreateLocked);
    chkChangedOnly->setChecked(remembered.changedOnly);
    txtField[3]->setText(remembered.newDB);
    txtField[2]->setText(remembered.newUser);
    for (QCheckBox *stage : chkWork)
        stage->setChecked(true);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), clientSize());
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

void FrmMain::runStartupUpdate()
{
    // Hands over to the updater before the window shows: it brings the updater current, runs
    // it, and ends the program when a newer copy of it is waiting. Its messages need a window
    // even before the program has installed this one's messenger.
    const bool borrowed = installedMessenger() == nullptr;
    if (borrowed)
        setMessenger(m_messenger);
    bool skipSelfUpdate = false;
    RunAutoUpdate(skipSelfUpdate);
    if (borrowed)
        setMessenger(nullptr);
}

void FrmMain::txtField_Change(int index)
{
    if (!isVisible())
        return;
    if (index == 3) {
        // The new user follows the part of the new DB name after its last "_".
        const QString newDB = txtField[3]->text();
        if (newDB.isEmpty()) {
            txtField[2]->setText(QString());
        } else {
            const qsizetype underscore = newDB.lastIndexOf(u'_');
            if (underscore >= 1)
                txtField[2]->setText(newDB.mid(underscore + 1));
        }
    }
    SaveSetting(kConfigSection, configKeyName(kTxtFieldKey[index]), txtField[index]->text());
}

void FrmMain::cmbField_Change(int index)
{
    if (!isVisible())
        return;
    SaveSetting(kConfigSection, configKeyName(kCmbFieldKey[index]), cmbField[index]->currentText());
}

void FrmMain::cmbField_Click(int index)
{
    cmbField_Change(index);
}

void FrmMain::chkField_Click(int index)
{
    if (!isVisible())
        return;
    if (index == 0)
        txtField[4]->setEnabled(chkField[0]->isChecked());
    SaveSetting(kConfigSection, configKeyName(kChkFieldKey[index]),
                chkField[index]->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

void FrmMain::cmdChkAll_Click()
{
    for (QCheckBox *stage : chkWork)
        stage->setChecked(false);
}

void FrmMain::cmdClose_Click()
{
    close();
}

void FrmMain::cmdCancel_Click()
{
    cancelCopy();
}

bool FrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            // Enter works as Tab in the fields, and then reaches the field as usual.
            focusNextChild();
        }
    }
    return QWidget::eventFilter(watched, event);
}

CopyRequest FrmMain::copyRequest() const
{
    CopyRequest r;
    r.host = cmbField[0]->currentText();
    r.dbPrefix = cmbField[1]->currentText();
    r.user = txtField[0]->text();
    r.dumpOption = txtField[1]->text();
    r.newUser = txtField[2]->text();
    r.newDB = txtField[3]->text();
    r.foreignPath = txtField[4]->text();
    r.foreign = chkField[0]->isChecked();
    r.existDBDel = chkField[1]->isChecked();
    r.onOrdUser = chkField[2]->isChecked();
    r.definers = chkDefiner->isChecked() ? CopyRequest::Definers::CreateLocked : CopyRequest::Definers::Rewrite;
    r.changedOnly = chkChangedOnly->isChecked();
    for (int i = 0; i < 3; ++i)
        r.stage[i] = chkWork[i]->isChecked();
    r.programFolder = m_programFolder;
    return r;
}

QWidget *FrmMain::fieldWidget(FieldId field) const
{
    switch (field) {
    case FieldId::None: return nullptr;
    case FieldId::chkWork0: return chkWork[0];
    case FieldId::cmbField0: return cmbField[0];
    case FieldId::cmbField1: return cmbField[1];
    case FieldId::txtField0: return txtField[0];
    case FieldId::txtField1: return txtField[1];
    case FieldId::txtField2: return txtField[2];
    case FieldId::txtField3: return txtField[3];
    case FieldId::txtField4: return txtField[4];
    }
    return nullptr;
}

void FrmMain::moveFocusTo(FieldId field)
{
    if (QWidget *w = fieldWidget(field))
        w->setFocus(Qt::OtherFocusReason);
}

void FrmMain::cmdCopy_Click()
{
    if (m_task->isRunning())
        return;
    // Nothing of the last copy shows under this one's first box.
    resetProgress();
    const CopyRequest request = copyRequest();
    const ValidationResult checked = ValidateCopyRequest(request);
    if (!checked.passed) {
        moveFocusTo(checked.focus);
        return;
    }
    startCopy(request);
}

void FrmMain::startCopy(const CopyRequest &request)
{
    m_pendingFocus = FieldId::None;
    if (!m_task->start(request))
        return;
    setCopyRunning(true);
    emit copyStarted();
}

void FrmMain::cancelCopy()
{
    if (!m_task->isRunning() || m_task->isCancelled())
        return;
    m_task->cancel();
    cmdCancel->setEnabled(false);
    lblStatus->setText(QStringLiteral("취소하는 중..."));
}

void FrmMain::onCopyEnded(bool completed)
{
    setCopyRunning(false);
    if (m_closeQuestionOpen)
        m_messenger->closeOpenBox();
    if (completed) {
        pgbCopy->setRange(0, 100);
        pgbCopy->setValue(100);
        pgbCopy->setTextVisible(true);
        lblStatus->setText(stageText(CopyStage::Done));
    } else {
        pgbCopy->setRange(0, 100);
        pgbCopy->setValue(0);
        lblStatus->setText(m_task->isCancelled() ? QStringLiteral("취소됨") : QStringLiteral("중단됨"));
    }
    // A field the job asked for could not take the focus while the fields were disabled.
    if (m_pendingFocus != FieldId::None && !m_closeRequested) {
        activateWindow();
        moveFocusTo(m_pendingFocus);
        m_pendingFocus = FieldId::None;
    }
    emit copyFinished(completed);
}

void FrmMain::resetProgress()
{
    pgbCopy->setRange(0, 100);
    pgbCopy->setValue(0);
    pgbCopy->setTextVisible(false);
    lblStatus->clear();
}

void FrmMain::setCopyRunning(bool running)
{
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2),
                       static_cast<QWidget *>(Frame3), static_cast<QWidget *>(Frame4),
                       static_cast<QWidget *>(cmdCopy)})
        w->setEnabled(!running);
    cmdCancel->setEnabled(running);
    if (running) {
        setCursor(Qt::WaitCursor);
        pgbCopy->setRange(0, 0);
        pgbCopy->setTextVisible(false);
        lblStatus->clear();
    } else {
        unsetCursor();
        // Back where the click left it; the window's own focus moved while the fields were off.
        cmdCopy->setFocus();
    }
}

void FrmMain::onStageStarted(CopyStage stage)
{
    lblStatus->setText(stageText(stage));
    if (stage == CopyStage::Done) {
        // The copy has nothing left to cancel; "복사완료" follows.
        pgbCopy->setRange(0, 100);
        pgbCopy->setValue(100);
        pgbCopy->setTextVisible(true);
        cmdCancel->setEnabled(false);
        return;
    }
    // Only the load knows its total up front; the rest run with a busy bar.
    if (stage == CopyStage::Import) {
        pgbCopy->setRange(0, 100);
        pgbCopy->setValue(0);
    } else {
        pgbCopy->setRange(0, 0);
    }
}

void FrmMain::onProgress(CopyStage stage, qint64 done, qint64 total, double bytesPerSecond)
{
    lblStatus->setText(progressText(stage, done, total, bytesPerSecond));
    if (total > 0) {
        pgbCopy->setTextVisible(true);
        pgbCopy->setRange(0, 100);
        pgbCopy->setValue(progressPercent(done, total));
    } else {
        pgbCopy->setRange(0, 0);
    }
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    if (m_task->isRunning() && !m_closeRequested) {
        m_closeQuestionOpen = true;
        const bool yes = askYesNo(QStringLiteral("복사가 진행 중입니다.\r\n복사를 취소하고 닫을까요?"), Answer::No);
        m_closeQuestionOpen = false;
        // A copy that ended while the question was open took the question away: the window
        // closes as it would have without a copy.
        if (!yes && m_task->isRunning()) {
            event->ignore();
            return;
        }
    }
    if (m_task->isRunning()) {
        // The windows go at once, whatever the worker waits for: the copy is cancelled, its
        // boxes get their safe answers, and the program ends once the worker has ended.
        m_closeRequested = true;
        m_messenger->setClosing(true);
        cancelCopy();
    }
    if (m_log)
        m_log->close();
    event->accept();
}

bool FrmMain::waitForCopyEnd(int milliseconds)
{
    if (!m_task->isRunning())
        return true;
    QEventLoop loop;
    connect(m_task, &CopyTask::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return !m_task->isRunning();
}

FrmLog *FrmMain::logWindow()
{
    if (!m_log)
        m_log = new FrmLog(this);
    return m_log;
}

FrmLog *FrmMain::loadedLogWindow() const
{
    return m_log;
}

void FrmMain::AddLog(const QString &line)
{
    // Once the window has been closed, the cancelled copy's last lines have nowhere to show.
    if (m_closeRequested)
        return;
    logWindow()->AddLog(line);
}

void FrmMain::clearAndShowLog()
{
    FrmLog *log = logWindow();
    log->clear();
    log->show();
    log->raise();
    log->activateWindow();
    log->Text1->setFocus();
}

}  // namespace velmar
