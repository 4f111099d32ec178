#ifndef EBOOKTIPDIALOG_H
#define EBOOKTIPDIALOG_H

#include <QDialog>

class QLayout;
class QScrollBar;

// The illustrated three-step guide to redeeming the VIP card in the e-textbook client.
class ebookTipDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ebookTipDialog(QWidget *parent);
    ~ebookTipDialog() override;

    // Application-modal, without a nested event loop.
    void showdialog();

    // Every way of closing (the close button, Escape, a close request, accept or reject)
    // ends here, so sigdialogclose() is emitted exactly once per closing, before hiding.
    void done(int result) override;

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void sigdialogclose();

public slots:
    void slotdialogclose();

private:
    QLayout *buildStepRow(int step, const QString &text);
    bool closeAnnounced = false;
    QScrollBar *stepScrollBar = nullptr;
};

#endif // EBOOKTIPDIALOG_H
