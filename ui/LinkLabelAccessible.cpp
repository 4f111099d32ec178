#include "LinkLabelAccessible.h"

#include <QLabel>
#include <QMetaObject>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>

class LinkLabelAccessible::Link : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    Link(const LinkLabelAccessible *owner, int index) : owner(owner), index(index) {}

    bool isValid() const override { return owner->isValid(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return owner->window(); }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return const_cast<LinkLabelAccessible *>(owner);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QString();
        return LinkLabelAccessible::anchors(owner->label()).value(index).text;
    }
    void setText(QAccessible::Text, const QString &) override {}
    // Where the link lies within its label's text is the label's own business: the label's
    // place is close enough to point at.
    QRect rect() const override { return owner->rect(); }
    QAccessible::Role role() const override { return QAccessible::Link; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.focusable = true;
        state.focused = owner->label()->hasFocus();
        state.linked = true;
        state.invisible = owner->state().invisible;
        return state;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface
                   ? static_cast<QAccessibleActionInterface *>(this)
                   : nullptr;
    }

    QStringList actionNames() const override { return QStringList(pressAction()); }
    void doAction(const QString &actionName) override
    {
        if (actionName != pressAction())
            return;
        const QString href = LinkLabelAccessible::anchors(owner->label()).value(index).href;
        // Queued, as a click's signal reaches the window after the mouse event is handled.
        QMetaObject::invokeMethod(owner->label(), "linkActivated", Qt::QueuedConnection,
                                  Q_ARG(QString, href));
    }
    QStringList keyBindingsForAction(const QString &) const override { return QStringList(); }

private:
    const LinkLabelAccessible *owner;
    int index;
};

QVector<LinkLabelAccessible::Anchor> LinkLabelAccessible::anchors(const QLabel *label)
{
    QVector<Anchor> found;
    if (label->textFormat() == Qt::PlainText ||
        (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text())))
        return found;
    QTextDocument document;
    document.setHtml(label->text());
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.isAnchor() || format.anchorHref().isEmpty())
                continue;
            // One link may be split into fragments by a change of format within it.
            if (!found.isEmpty() && found.last().href == format.anchorHref() &&
                found.last().start + found.last().text.size() == fragment.position()) {
                found.last().text += fragment.text();
                continue;
            }
            found.append({format.anchorHref(), fragment.text(), fragment.position()});
        }
    }
    return found;
}

LinkLabelAccessible::LinkLabelAccessible(QLabel *label)
    : QAccessibleWidget(label, QAccessible::StaticText)
{
}

LinkLabelAccessible::~LinkLabelAccessible()
{
    for (QAccessible::Id id : linkIds)
        QAccessible::deleteAccessibleInterface(id);
}

QLabel *LinkLabelAccessible::label() const
{
    return static_cast<QLabel *>(widget());
}

QString LinkLabelAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
        const QString text = label()->text();
        return Qt::mightBeRichText(text) ? QTextDocumentFragment::fromHtml(text).toPlainText()
                                         : text;
    }
    return QAccessibleWidget::text(t);
}

int LinkLabelAccessible::childCount() const
{
    return anchors(label()).size();
}

QAccessibleInterface *LinkLabelAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    while (linkIds.size() <= index)
        linkIds.append(QAccessible::registerAccessibleInterface(new Link(this, linkIds.size())));
    return QAccessible::accessibleInterface(linkIds.at(index));
}

int LinkLabelAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    for (int i = 0; i < linkIds.size(); ++i) {
        if (QAccessible::accessibleInterface(linkIds.at(i)) == child)
            return i;
    }
    return -1;
}

QAccessibleInterface *LinkLabelAccessible::focusChild() const
{
    return label()->hasFocus() ? child(0) : nullptr;
}
