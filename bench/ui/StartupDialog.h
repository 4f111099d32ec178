#ifndef STARTUPDIALOG_H
#define STARTUPDIALOG_H

#include <QDialog>

// The start-up probe's baselines: a bare frameless 936 x 760 dialog, and the "fair" one that
// also holds what any window with the product's look pays for: one QLabel with Chinese text
// in 微软雅黑 and one QLabel with a pixmap from images/.
class StartupDialog : public QDialog
{
public:
    enum Content { Bare, Fair };
    explicit StartupDialog(Content content);
};

#endif // STARTUPDIALOG_H
