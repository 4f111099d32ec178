#include "ebookTipDialog.h"

#include "TitleButton.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{
const char *const stepTextSheet =
    "border-width:0px;border-style: solid;border-color:#e0e0e0;border-radius:4px;"
    "font-size:20px;color:#333333;font-family:微软雅黑";

QLabel *buildStepPicture(int step, const QString &text)
{
    auto *picture = new QLabel;
    picture->setObjectName(QStringLiteral("stepPicture%1").arg(step));
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(QPixmap(QStringLiteral("images/ebookpic_%1.png").arg(step)));
    picture->setFixedSize(519, 280);
    picture->setAccessibleDescription(text);
    picture->setStyleSheet(
        QStringLiteral("margin-left:64px;border-width:0px;border-style: solid;border-color:red;"));
    return picture;
}
} // namespace

ebookTipDialog::ebookTipDialog(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ebookTipDialog"));
    const QString titleText = QStringLiteral("电子课本激活详细指南");
    // Frameless, the title shows nowhere; screen readers name the window by it.
    setWindowTitle(titleText);
    QToolButton *closeButton = TitleButton::create(this, QStringLiteral("images/close.png"),
                                                   QSize(10, 10), QStringLiteral("关闭"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    connect(closeButton, SIGNAL(clicked()), this, SLOT(slotdialogclose()));

    auto *titleBarRow = new QHBoxLayout;
    titleBarRow->setObjectName(QStringLiteral("titleBarRow"));
    titleBarRow->addStretch(0);
    titleBarRow->addWidget(closeButton);

    auto *title = new QLabel(titleText);
    title->setObjectName(QStringLiteral("guideTitleLabel"));
    title->setFixedHeight(40);
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet(
        QStringLiteral("border-width:0px;border-style: solid;border-color:#e0e0e0;"
                       "border-radius:4px;font-size:24px;color:#4778C7;font-family:微软雅黑"));

    const QString stepTexts[] = {QStringLiteral("注册,登录Orla Nova客户端"),
                                 QStringLiteral("进入个人中心"), QStringLiteral("填写VIP充值卡")};
    auto *contentLayout = new QVBoxLayout;
    contentLayout->setMargin(0);
    for (int step = 1; step <= 3; ++step) {
        QLayout *row = buildStepRow(step, stepTexts[step - 1]);
        QLabel *picture = buildStepPicture(step, stepTexts[step - 1]);
        contentLayout->addLayout(row);
        contentLayout->addStretch(18);
        contentLayout->addWidget(picture);
        if (step < 3)
            contentLayout->addStretch(20);
        contentLayout->setStretchFactor(row, 68);
        contentLayout->setStretchFactor(picture, 200);
    }
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("guideContent"));
    content->setLayout(contentLayout);

    auto *scrollArea = new QScrollArea;
    scrollArea->setObjectName(QStringLiteral("guideScrollArea"));
    scrollArea->setStyleSheet(QStringLiteral("border-width:0px;"));
    scrollArea->setFixedSize(540, 426);
    scrollArea->setWidget(content);
    scrollArea->setWidgetResizable(true);
    // The close button keeps the keyboard and passes the scrolling keys on to the steps, so
    // the scroll area needs no focus, and no focus mark, of its own.
    scrollArea->setFocusPolicy(Qt::NoFocus);
    stepScrollBar = scrollArea->verticalScrollBar();
    closeButton->installEventFilter(this);

    auto *mainLayout = new QVBoxLayout;
    mainLayout->addLayout(titleBarRow);
    mainLayout->addWidget(title);
    mainLayout->addWidget(scrollArea);
    mainLayout->setStretchFactor(titleBarRow, 28);
    mainLayout->setStretchFactor(title, 58);
    mainLayout->setStretchFactor(scrollArea, 458);
    setLayout(mainLayout);
}

ebookTipDialog::~ebookTipDialog() = default;

QLayout *ebookTipDialog::buildStepRow(int step, const QString &text)
{
    auto *number = new QLabel;
    number->setObjectName(QStringLiteral("stepNumber%1").arg(step));
    const QPixmap numberPixmap(QStringLiteral("images/%1.png").arg(step));
    number->setAlignment(Qt::AlignCenter);
    number->setPixmap(numberPixmap);
    number->setFixedSize(numberPixmap.width() + 32, numberPixmap.height());
    number->setStyleSheet(
        QStringLiteral("margin-left:26px;border-width:0px;border-style: solid;border-color:red;"));

    auto *stepText = new QLabel(text);
    stepText->setObjectName(QStringLiteral("stepText%1").arg(step));
    stepText->setFixedHeight(40);
    stepText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    stepText->setStyleSheet(QString::fromUtf8(stepTextSheet));

    auto *row = new QHBoxLayout;
    row->setObjectName(QStringLiteral("stepRow%1").arg(step));
    row->addWidget(number);
    row->addSpacing(0);
    row->addWidget(stepText);
    return row;
}

bool ebookTipDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        QCoreApplication::sendEvent(stepScrollBar, event);
        return true;
    default:
        return false;
    }
}

void ebookTipDialog::showdialog()
{
    closeAnnounced = false;
    setModal(true);
    show();
}

void ebookTipDialog::slotdialogclose()
{
    closeAnnounced = true;
    emit sigdialogclose();
    close();
}

void ebookTipDialog::done(int result)
{
    if (!closeAnnounced) {
        closeAnnounced = true;
        emit sigdialogclose();
    }
    QDialog::done(result);
}
