#include "mainpage.h"
#include "ui_mainpage.h"

#include "InstallPathSetting.h"
#include "ShellLauncher.h"
#include "SystemShellLauncher.h"
#include "TitleButton.h"
#include "TzBackGroundWnd.h"
#include "TzCloud.h"
#include "ebookTipDialog.h"

#include <QCursor>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace
{
QLabel *buildCardLabel(const QString &text, Qt::Alignment alignment, int height,
                       const char *styleSheet)
{
    auto *label = new QLabel(text);
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
    setLayout(mainLayout);
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

    QToolButton *closeButton =
        TitleButton::create(this, QStringLiteral("images/close.png"), QSize(10, 10));
    QToolButton *miniButton =
        TitleButton::create(this, QStringLiteral("images/mini.png"), QSize(5, 5));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    miniButton->setObjectName(QStringLiteral("minimizeButton"));
    closeButton->setToolTip(QStringLiteral("关闭"));
    miniButton->setToolTip(QStringLiteral("最小化"));

    connect(miniButton, SIGNAL(clicked()), this, SLOT(showmini()));
    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));

    auto *row = new QHBoxLayout;
    row->addWidget(logo);
    row->addWidget(title);
    row->addWidget(miniButton);
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
        buildCardLabel(QStringLiteral("Orla Nova人教社电子课本\n一年VIP卡"), Qt::AlignHCenter, 85,
                       "margin-left:10px;border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "font-size:20px;color:#333333;font-family:微软雅黑");
    cardTitle->setObjectName(QStringLiteral("cardTitleLabel"));

    QLabel *cardName = buildCardLabel(QStringLiteral("一年VIP卡"), Qt::AlignHCenter, 45,
                                      "border-width:0px;border-style: solid;border-color:#e0e0e0;"
                                      "font-size:16px;color:#333333;font-family:微软雅黑");
    cardName->setObjectName(QStringLiteral("cardNameLabel"));
    cardName->setVisible(false);

    QLabel *prompt =
        buildCardLabel(QStringLiteral("激活Orla Nova人教社电子课本VIP卡:"), Qt::AlignLeft, 25,
                       "border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "font-size:16px;color:#4778c7;font-family:微软雅黑");
    prompt->setObjectName(QStringLiteral("promptLabel"));

    QLabel *description = buildCardLabel(
        QStringLiteral("语数外等10大学科，104本电子课本打开Orla Nova客户端，进入个人中心激活使用。"
                       "查看详细<html><a href=\"ebookurl\" "
                       "style='text-decoration:none;color:#4778c7;font-size:14px;'>激活指南</a>"
                       "</html>"),
        Qt::AlignHCenter, 70,
        "border-width:0px;border-style: solid;border-color:#e0e0e0;font-size:14px;"
        "color:#333333;font-family:微软雅黑");
    description->setObjectName(QStringLiteral("guideLinkLabel"));
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignTop);
    connect(description, SIGNAL(linkActivated(QString)), this, SLOT(openUrl(QString)));

    openClientLabel = buildCardLabel(
        QStringLiteral("打开客户端"), Qt::AlignCenter, 40,
        "border-width:1px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
        "font-size:16px;color:#ffffff;font-family:微软雅黑;background-color:#4778c7;");
    openClientLabel->setObjectName(QStringLiteral("openClientLabel"));
    openClientLabel->setCursor(Qt::PointingHandCursor);

    auto *cardLayout = new QVBoxLayout;
    cardLayout->addWidget(picture);
    cardLayout->addWidget(cardTitle);
    cardLayout->addWidget(cardName);
    cardLayout->addWidget(prompt);
    cardLayout->addWidget(description);
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
    if (event->type() != QEvent::MouseButtonPress)
        return false;
    if (watched == openClientLabel)
        openClient();
    return true;
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
