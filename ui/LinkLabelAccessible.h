#ifndef LINKLABELACCESSIBLE_H
#define LINKLABELACCESSIBLE_H

#include <QAccessibleWidget>
#include <QVector>

class QLabel;

// A rich-text label as a screen reader should meet it: static text named by its plain text,
// with one child of the link role per link in it, named by the link's text, whose press action
// activates the link as a click does.
class LinkLabelAccessible : public QAccessibleWidget
{
public:
    struct Anchor {
        QString href;
        QString text;
        int start; // in the label's plain text, as QLabel::setSelection() counts
    };
    static QVector<Anchor> anchors(const QLabel *label);
    // Where the anchor's text lies in the label, laid out as the label lays out its text.
    static QRect anchorRect(const QLabel *label, const Anchor &anchor);

    explicit LinkLabelAccessible(QLabel *label);
    ~LinkLabelAccessible() override;

    QString text(QAccessible::Text t) const override;
    int childCount() const override;
    QAccessibleInterface *child(int index) const override;
    int indexOfChild(const QAccessibleInterface *child) const override;
    QAccessibleInterface *focusChild() const override;

private:
    class Link;
    QLabel *label() const;
    // The label's anchors, parsed again only when its text changes.
    const QVector<Anchor> &currentAnchors() const;
    mutable QString parsedText;
    mutable QVector<Anchor> parsedAnchors;
    // Made on first use, identified by their index; owned by QAccessible's cache once registered.
    mutable QVector<QAccessible::Id> linkIds;
};

#endif // LINKLABELACCESSIBLE_H
