#ifndef LABELBUTTONACCESSIBLE_H
#define LABELBUTTONACCESSIBLE_H

#include <QAccessibleWidget>

class QLabel;

// A label that its window runs as a button: a screen reader meets a button named by the
// label's text, and its press action does what pressing Space on the label does.
class LabelButtonAccessible : public QAccessibleWidget
{
public:
    explicit LabelButtonAccessible(QLabel *label);

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
};

#endif // LABELBUTTONACCESSIBLE_H
