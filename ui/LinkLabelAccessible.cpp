#include "LinkLabelAccessible.h"

#include <QApplication>
#include <QLabel>
#include <QMetaObject>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextLayout>

namespace
{
// The label's document as the label lays it out: its font, alignment, wrapping and width.
void layOut(const QLabel *label, QTextDocument *document, QRect *documentRect)
{
    QRect rect = label->contentsRect();
    rect.adjust(label->margin(), label->margin(), -label->margin(), -label->margin());
    document->setDefaultFont(label->font());
    QTextOption option = document->defaultTextOption();
    option.setAlignment(label->alignment());
    option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
    document->setDefaultTextOption(option);
    document->setHtml(label->text());
    QTextFrameFormat frame = document->rootFrame()->frameFormat();
    frame.setMargin(0);
    document->rootFrame()->setFrameFormat(frame);
    document->setTextWidth(rect.width());
    const int height = qRound(document->size().height());
    if (label->alignment() & Qt::AlignVCenter)
        rect.translate(0, qMax((rect.height() - height) / 2, 0));
    else if (label->alignment() & Qt::AlignBottom)
        rect.translate(0, qMax(rect.height() - height, 0));
    *documentRect = rect;
}
} // namespace

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
        return owner->currentAnchors().value(index).text;
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        const QLabel *label = owner->label();
        const QRect inLabel = anchorRect(label, owner->currentAnchors().value(index));
        return inLabel.isEmpty() ? owner->rect()
                                 : QRect(label->mapToGlobal(inLabel.topLeft()), inLabel.size());
    }
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
        // As a click cannot, no action reaches a window that a modal window blocks.
        const QWidget *modal = QApplication::activeModalWidget();
        if (actionName != pressAction() || (modal && modal != owner->label()->window()))
            return;
        const QString href = owner->currentAnchors().value(index).href;
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

QRect LinkLabelAccessible::anchorRect(const QLabel *label, const Anchor &anchor)
{
    if (anchor.text.isEmpty())
        return QRect();
    QTextDocument document;
    QRect documentRect;
    layOut(label, &document, &documentRect);
    QRectF found;
    const int end = anchor.start + anchor.text.size();
    for (QTextBlock block = document.findBlock(anchor.start);
         block.isValid() && block.position() < end; block = block.next()) {
        const QTextLayout *layout = block.layout();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const int from = qMax(anchor.start - block.position(), line.textStart());
            const int to = qMin(end - block.position(), line.textStart() + line.textLength());
            if (from >= to)
                continue;
            const qreal left = line.cursorToX(from);
            const qreal right = line.cursorToX(to);
            found |= QRectF(qMin(left, right), line.y(), qAbs(right - left), line.height())
                         .translated(layout->position());
        }
    }
    return found.toAlignedRect().translated(documentRect.topLeft()) & label->rect();
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

const QVector<LinkLabelAccessible::Anchor> &LinkLabelAccessible::currentAnchors() const
{
    if (parsedText != label()->text() || parsedText.isNull()) {
        parsedText = label()->text();
        parsedAnchors = anchors(label());
    }
    return parsedAnchors;
}

int LinkLabelAccessible::childCount() const
{
    return currentAnchors().size();
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
