#ifndef MAINPAGE_H
#define MAINPAGE_H

#include "LinkLabelAccessible.h"

#include <QDialog>
#include <QPoint>

#include <memory>

class QHBoxLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;
class ShellLauncher;
class TzCloud;

namespace Ui
{
class mainpage;
}

// The frameless main window: its own title bar, a header and the e-textbook card. Without a
// system frame it moves itself while a mouse button is held on it.
class mainpage : public QDialog
{
    Q_OBJECT

public:
    explicit mainpage(QWidget *parent = nullptr);
    ~mainpage() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Replaces the shell the open-client label launches through (the system shell by default).
    void setShellLauncher(std::unique_ptr<ShellLauncher> launcher);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private slots:
    void openUrl(QString link);
    void showmini();
    void slotdialogclose();

private:
    void initUi();
    QLayout *buildTitleRow();
    QLayout *buildHeader();
    QLayout *buildEbookColumn();
    QString readInstallPath();
    void openClient();
    bool guideLinkEvent(QEvent *event);
    void markGuideLinkFocus();
    void showbackground();

    Ui::mainpage *ui;
    QHBoxLayout *panelsLayout;
    QVBoxLayout *mainLayout;
    QLabel *openClientLabel = nullptr;
    QString installPath;
    bool dragging;
    QPoint dragOffset;
    TzCloud *cloud = nullptr;
    QLabel *guideLinkLabel = nullptr;
    // The description's one link, read once: its text never changes.
    LinkLabelAccessible::Anchor guideLink{QString(), QString(), 0};
    QToolButton *minimizeButton = nullptr;
    QToolButton *closeButton = nullptr;
    std::unique_ptr<ShellLauncher> launcher;
};

#endif // MAINPAGE_H
