#ifndef WIDGETFINDER_H
#define WIDGETFINDER_H

#include <QApplication>
#include <QByteArray>
#include <QLayout>
#include <QList>
#include <QObject>
#include <QWidget>
#include <QtTest>

// Tests reach a window's parts by object name only: a text may be reworded, and children or
// layout items reordered, without anything changing that the lookup should depend on.

// The one T named name anywhere below parent (a widget, or a layout). Otherwise null, after
// the test log says why (no such name, the name given twice, or a name on another class); the
// caller QVERIFYs the result.
template <typename T> T *findByName(const QObject *parent, const char *name)
{
    const QList<QObject *> named = parent->findChildren<QObject *>(QString::fromUtf8(name));
    QByteArray why;
    if (named.isEmpty())
        why = "nothing is named";
    else if (named.size() > 1)
        why = QByteArray::number(named.size()) + " objects are named";
    else if (!qobject_cast<T *>(named.first()))
        why = QByteArray("a ") + named.first()->metaObject()->className() + " is named";
    else
        return static_cast<T *>(named.first());
    const QByteArray message = QByteArray("findByName<") + T::staticMetaObject.className() +
                               ">: " + why + " \"" + name + "\" below " +
                               parent->metaObject()->className() + " \"" +
                               parent->objectName().toUtf8() + "\"";
    QTest::qWarn(message.constData());
    return nullptr;
}

// Where the item holding named (a widget, or a nested layout) sits in layout, or -1. Assertions
// about the order of a layout reach each item through its name and compare these positions.
inline int layoutIndexOf(const QLayout *layout, const QObject *named)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() == named || item->layout() == named)
            return i;
    }
    return -1;
}

// Every top-level window named name that is a T, in no particular order.
template <typename T> QList<T *> topLevelsByName(const char *name)
{
    QList<T *> found;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window->objectName() != QString::fromUtf8(name))
            continue;
        if (auto *typed = qobject_cast<T *>(window))
            found << typed;
    }
    return found;
}

#endif // WIDGETFINDER_H
