#include "mainpage.h"
#include "ui_mainpage.h"

#include "InstallPathSetting.h"
#include "LabelButtonAccessible.h"
#include "LinkLabelAccessible.h"
#include "ShellLauncher.h"
#include "SystemShellLauncher.h"
#include "TitleButton.h"
#include "TzBackGroundWnd.h"
#include "TzCloud.h"
#include "ebookTipDialog.h"

#include <QAccessible>
#include <QCursor>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace
{
const QString openClientName = QStringLiteral("openClientLabel");
const QString guideLinkName = QStringLiteral("guideLinkLabel");

// The card's two actions are labels that act as a button and a link: screen readers are told so.
QAccessibleInterface *cardAccessible(const QString &className, QObject *object)
{
    if (className != QLatin1String("QLabel"))
        return nullptr;
    auto *label = static_cast<QLabel *>(object);
    if (label->objectName() == openClientName)
        return new LabelButtonAccessible(label);
    if (label->objectName() == guideLinkName)
        return new LinkLabelAccessible(label);
    return nullptr;
}

// Enter, Return or Space, pressed once: what a click on a button is for the keyboard.
bool isActivationKey(const QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto *key = static_cast<const QKeyEvent *>(event);
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Space) &&
           !(key->modifiers() & ~Qt::KeypadModifier);
}

// The object name comes first: with a screen reader running, setting the text already makes
// the label's accessible interface, which the name chooses.
QLabel *buildCardLabel(const QString &objectName, const QString &text, Qt::Alignment alignment,
                       int height, const char *styleSheet)
{
    auto *label = new QLabel;
    label->setObjectName(objectName);
    label->setText(text);
    label->setAlignment(alignment);
    label->setFixedWidth(278);
    label->setFixedHeight(height);
    label->setStyleSheet(QString::fromUtf8(styleSheet));
    return label;
}
} // namespace

mainpage::mainpage(QWidget *parent)
    : QDialog(parent), ui(new Ui::mainpage), dragging(false), dragOffset(0, 0),
      launcher(new SystemShellLauncher)
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    setAutoFillBackground(true);
    setPalette(QPalette(QColor(qRgb(0, 0, 10)), QColor(230, 234, 237, 255)));
    static const bool accessibleCardInstalled = (QAccessible::installFactory(cardAccessible), true);
    Q_UNUSED(accessibleCardInstalled);

    mainLayout = new QVBoxLayout;
    panelsLayout = new QHBoxLayout;
    installPath = readInstallPath();

    initUi();
    cloud = new TzCloud(this);
    ui->setupUi(this);
}

mainpage::~mainpage()
{
    delete ui;
}

void mainpage::setShellLauncher(std::unique_ptr<ShellLauncher> shellLauncher)
{
    launcher = std::move(shellLauncher);
}

void mainpage::initUi()
{
    setWindowFlags(Qt::FramelessWindowHint);

    // Outside every layout: it stays at the top-left corner, beneath everything added later.
    auto *backdrop = new QFrame(this);
    backdrop->setObjectName(QStringLiteral("titleBackdrop"));
    backdrop->setFixedSize(936, 60);
    backdrop->setStyleSheet(QStringLiteral("QFrame{background-color: transparent;}"));

    QLayout *titleRow = buildTitleRow();
    QLayout *header = buildHeader();
    QLayout *ebookColumn = buildEbookColumn();

    panelsLayout->addLayout(ebookColumn, 0);
    panelsLayout->setStretchFactor(ebookColumn, 1);
    panelsLayout->setMargin(0);

    mainLayout->addLayout(titleRow);
    mainLayout->addStretch(70);
    mainLayout->addLayout(header);
    mainLayout->addStretch(44);
    mainLayout->addLayout(panelsLayout);
    mainLayout->addStretch(32);
    mainLayout->setStretchFactor(titleRow, 32);
    mainLayout->setStretchFactor(header, 68);
    mainLayout->setStretchFactor(panelsLayout, 480);

    openClientLabel->installEventFilter(this);
    guideLinkLabel->installEventFilter(this);
    setLayout(mainLayout);
    // Tab goes the way the eye reads: minimise, close, the guide link, "打开客户端".
    setTabOrder(openClientLabel, minimizeButton);
    setTabOrder(minimizeButton, closeButton);
    setTabOrder(closeButton, guideLinkLabel);
    // Focus starts on "打开客户端", the card's main action, as a dialog's on its default
    // button: given when the window is shown, since a later change of its flags clears it.
    installEventFilter(this);
}

QLayout *mainpage::buildTitleRow()
{
    auto *logo = new QLabel;
    logo->setObjectName(QStringLiteral("logoLabel"));
    logo->setAlignment(Qt::AlignCenter);
    const QPixmap logoPixmap(QStringLiteral("images/key.png"));
    logo->setPixmap(logoPixmap);
    logo->setFixedSize(logoPixmap.width() + 6, logoPixmap.height());

    auto *title = new QLabel;
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    title->setStyleSheet(QStringLiteral("QLabel{font: 20px 微软雅黑;color: #333333; bold: true}"));
    title->setText(QStringLiteral("Orla Nova 电子课本"));

    closeButton = TitleButton::create(this, QStringLiteral("images/close.png"), QSize(10, 10),
                                      QStringLiteral("关闭"));
    minimizeButton = TitleButton::create(this, QStringLiteral("images/mini.png"), QSize(5, 5),
                                         QStringLiteral("最小化"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    minimizeButton->setObjectName(QStringLiteral("minimizeButton"));

    connect(minimizeButton, SIGNAL(clicked()), this, SLOT(showmini()));
    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));

    auto *row = new QHBoxLayout;
    row->addWidget(logo);
    row->addWidget(title);
    row->addWidget(minimizeButton);
    row->addWidget(closeButton);
    row->setMargin(0);
    return row;
}

QLayout *mainpage::buildHeader()
{
    auto *heading = new QLabel(QStringLiteral("激活您的电子课本VIP卡"));
    heading->setObjectName(QStringLiteral("headingLabel"));
    heading->setFixedHeight(40);
    heading->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    heading->setStyleSheet(
        QStringLiteral("border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "border-radius:4px;font-size:28px;color:#4778C7;font-family:微软雅黑"));

    auto *subHeading = new QLabel(QStringLiteral("一张卡，畅读全部学科的人教社电子课本"));
    subHeading->setObjectName(QStringLiteral("subHeadingLabel"));
    subHeading->setFixedHeight(20);
    subHeading->setStyleSheet(
        QStringLiteral("border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "border-radius:4px;font-size:16px;color:#999999;font-family:微软雅黑"));
    subHeading->setAlignment(Qt::AlignHCenter);

    auto *header = new QVBoxLayout;
    header->addWidget(heading);
    header->addSpacing(0);
    header->addWidget(subHeading);
    header->setMargin(0);
    return header;
}

QLayout *mainpage::buildEbookColumn()
{
    auto *picture = new QLabel;
    picture->setObjectName(QStringLiteral("ebookPicture"));
    picture->setPixmap(QPixmap(QStringLiteral("images/ebook.png")));
    picture->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    picture->setFixedWidth(278);
    picture->setFixedHeight(110);
    picture->setStyleSheet(QStringLiteral(
        "margin-left:10px;margin-top:0px;border-width:0px;border-style: solid;"
        "border-color:#e0e0e0;border-radius:4px;font-size:30px;color:blue;font-family:微软雅黑"));
    picture->setMargin(0);

    QLabel *cardTitle =
        buildCardLabel(QStringLiteral("cardTitleLabel"),
                       QStringLiteral("Orla Nova人教社电子课本\n一年VIP卡"), Qt::AlignHCenter, 85,
                       "margin-left:10px;border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "font-size:20px;color:#333333;font-family:微软雅黑");

    QLabel *cardName = buildCardLabel(QStringLiteral("cardNameLabel"), QStringLiteral("一年VIP卡"),
                                      Qt::AlignHCenter, 45,
                                      "border-width:0px;border-style: solid;border-color:#e0e0e0;"
                                      "font-size:16px;color:#333333;font-family:微软雅黑");
    cardName->setVisible(false);

    QLabel *prompt =
        buildCardLabel(QStringLiteral("promptLabel"),
                       QStringLiteral("激活Orla Nova人教社电子课本VIP卡:"), Qt::AlignLeft, 25,
                       "border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "font-size:16px;color:#4778c7;font-family:微软雅黑");

    guideLinkLabel = buildCardLabel(
        guideLinkName,
        QStringLiteral("语数外等10大学科，104本电子课本打开Orla Nova客户端，进入个人中心激活使用。"
                       "查看详细<html><a href=\"ebookurl\" "
                       "style='text-decoration:none;color:#4778c7;font-size:14px;'>激活指南</a>"
                       "</html>"),
        Qt::AlignHCenter, 70,
        "border-width:0px;border-style: solid;border-color:#e0e0e0;font-size:14px;"
        "color:#333333;font-family:微软雅黑");
    guideLinkLabel->setWordWrap(true);
    guideLinkLabel->setAlignment(Qt::AlignTop);
    // Tab reaches the link; a click on it still takes no focus, as before.
    guideLinkLabel->setFocusPolicy(Qt::TabFocus);
    connect(guideLinkLabel, SIGNAL(linkActivated(QString)), this, SLOT(openUrl(QString)));
    guideLink = LinkLabelAccessible::anchors(guideLinkLabel).value(0);

    // The label's own sheet outranks every application rule, so its focus ring lives here.
    openClientLabel = buildCardLabel(
        openClientName, QStringLiteral("打开客户端"), Qt::AlignCenter, 40,
        "QLabel{border-width:1px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
        "font-size:16px;color:#ffffff;font-family:微软雅黑;background-color:#4778c7;}"
        "QLabel:focus{border:2px solid #1d3c70;}");
    openClientLabel->setFocusPolicy(Qt::TabFocus);
    openClientLabel->setCursor(Qt::PointingHandCursor);

    auto *cardLayout = new QVBoxLayout;
    cardLayout->addWidget(picture);
    cardLayout->addWidget(cardTitle);
    cardLayout->addWidget(cardName);
    cardLayout->addWidget(prompt);
    cardLayout->addWidget(guideLinkLabel);
    cardLayout->addSpacing(40);
    cardLayout->addWidget(openClientLabel);
    cardLayout->addSpacing(30);

    auto *card = new QWidget;
    card->setObjectName(QStringLiteral("ebookCard"));
    card->setStyleSheet(
        QStringLiteral("margin-left:10px;border-width:1px;border-style: solid;"
                       "border-color:#e2e0e1;border-radius:10px;background-color:#f4f4f4"));
    card->setLayout(cardLayout);

    auto *column = new QVBoxLayout;
    column->addWidget(card);
    card->setFixedSize(298, 500);
    column->setMargin(0);
    return column;
}

QString mainpage::readInstallPath()
{
    const QString path = InstallPathSetting::read() + QLatin1Char('\\');
    qDebug() << path;
    return path;
}

bool mainpage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this) {
        if (event->type() == QEvent::Show && !focusWidget())
            openClientLabel->setFocus();
        // Escape closes the window, as a dialog's; held down to close the guide, its repeats
        // must not close the program too.
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        return key->key() == Qt::Key_Escape && key->isAutoRepeat();
    }
    if (watched == guideLinkLabel)
        return guideLinkEvent(event);
    if (watched == openClientLabel && isActivationKey(event)) {
        if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
            openClient();
        return true;
    }
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    if (watched == openClientLabel)
        openClient();
    return true;
}

// Keyboard focus and keys of the guide link; its mouse events pass on.
bool mainpage::guideLinkEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FocusIn:
        markGuideLinkFocus();
        return false;
    case QEvent::FocusOut:
        guideLinkLabel->setSelection(0, 0);
        return false;
    case QEvent::MouseButtonPress:
        // The label follows a link only when nothing is selected at the press.
        guideLinkLabel->setSelection(0, 0);
        return false;
    case QEvent::MouseButtonRelease:
        QTimer::singleShot(0, guideLinkLabel, [this] {
            if (guideLinkLabel->hasFocus())
                markGuideLinkFocus();
        });
        return false;
    case QEvent::KeyPress:
        break;
    default:
        return false;
    }
    if (guideLink.href.isEmpty() || !isActivationKey(event))
        return false;
    if (!static_cast<QKeyEvent *>(event)->isAutoRepeat())
        emit guideLinkLabel->linkActivated(guideLink.href);
    return true;
}

// The selected link is the focus mark (the style sheets colour it), and a screen reader is
// told the link has the focus, after Qt has told it the label has.
void mainpage::markGuideLinkFocus()
{
    if (guideLink.href.isEmpty())
        return;
    guideLinkLabel->setSelection(guideLink.start, guideLink.text.size());
    QTimer::singleShot(0, guideLinkLabel, [this] {
        if (!guideLinkLabel->hasFocus() || !QAccessible::isActive())
            return;
        QAccessibleInterface *label = QAccessible::queryAccessibleInterface(guideLinkLabel);
        if (QAccessibleInterface *link = label ? label->child(0) : nullptr) {
            QAccessibleEvent focus(link, QAccessible::Focus);
            QAccessible::updateAccessibility(&focus);
        }
    });
}

void mainpage::openClient()
{
    // Without an existing local directory below a root the client path would start from a
    // folder that anybody could create (a drive's root, the working directory, a network
    // share): anybody could plant a program there.
    if (!SystemShellLauncher::isInstallDirectory(installPath)) {
        qDebug() << "The install directory of the classroom software is not configured as an "
                    "existing absolute local folder below a drive's or the file system's root:"
                 << installPath;
        return;
    }
    const QString file = installPath + QStringLiteral("OrlaEntrance\\OrlaEntrance.exe");
    const QString parameters = QStringLiteral("");
    if (!launcher->execute(QStringLiteral("open"), file, parameters, QString(),
                           ShellLauncher::ShowNormal)) {
        // Nothing started: the window stays where the user can press again.
        qDebug() << "The shell could not start" << file;
        return;
    }
    qDebug() << parameters;
    showMinimized();
}

void mainpage::mousePressEvent(QMouseEvent *event)
{
    dragging = true;
    dragOffset = event->pos();
    QWidget::mousePressEvent(event);
}

void mainpage::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging)
        move(QCursor::pos() - dragOffset);
    QWidget::mouseMoveEvent(event);
}

void mainpage::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void mainpage::showmini()
{
    showMinimized();
}

void mainpage::openUrl(QString link)
{
    if (link != QLatin1String("ebookurl"))
        return;

    auto *dialog = new ebookTipDialog(nullptr);
    dialog->setFixedSize(560, 544);
    dialog->setWindowFlags(Qt::FramelessWindowHint);
    dialog->setStyleSheet(
        QStringLiteral("border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "border-radius:10px;background-color:#f7f7f7"));
    // A closed guide is never shown again.
    connect(dialog, SIGNAL(finished(int)), dialog, SLOT(deleteLater()));

    showbackground();
    // A parentless window is unowned on Windows: raising the main window (taskbar, Alt+Tab)
    // would lift it and its overlay over the guide. Owned by the overlay, which the main window
    // owns, the guide stays above both and has no taskbar button of its own.
    dialog->winId();
    dialog->windowHandle()->setTransientParent(g_backGroundWnd->windowHandle());
    dialog->showdialog();
    connect(dialog, SIGNAL(sigdialogclose()), this, SLOT(slotdialogclose()));
    // The keyboard comes back to the window, and so to what had its focus (the guide link
    // when the guide was opened from it), whatever window the platform would activate.
    connect(dialog, &QDialog::finished, this, [this] {
        if (isVisible() && !isMinimized())
            activateWindow();
    });
    qDebug() << link;
}

void mainpage::showbackground()
{
    // One overlay per window, kept hidden between openings: a new translucent top-level
    // window would cost the platform window and its visual again every time.
    if (!g_backGroundWnd || g_backGroundWnd->parentWidget() != this)
        g_backGroundWnd = new TzBackGroundWnd(this);
    g_backGroundWnd->move(QPoint(x(), y()));
    g_backGroundWnd->show();
}

void mainpage::slotdialogclose()
{
    if (!g_backGroundWnd || g_backGroundWnd->isHidden())
        return;
    g_backGroundWnd->hide();
}
