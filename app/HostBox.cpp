#include "HostBox.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>

QString HostBox::textWithoutSpaces() const
{
    const QString all = text();
    qsizetype first = 0;
    qsizetype last = all.size();
    while (first < last && all[first] == u' ')
        ++first;
    while (last > first && all[last - 1] == u' ')
        --last;
    return all.mid(first, last - first);
}

void HostBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    focusedByThisClick_ = event->reason() == Qt::MouseFocusReason;
    // Focus that comes back when the window is activated again, or when a
    // popup such as the context menu closes, leaves text and caret alone.
    const bool comingBack = event->reason() == Qt::PopupFocusReason ||
                            (event->reason() == Qt::ActiveWindowFocusReason && enteredBefore_);
    enteredBefore_ = true;
    if (!comingBack)
        emit gotFocus();
}

void HostBox::mousePressEvent(QMouseEvent *event)
{
    // The click that brings the focus would place the cursor and drop the
    // selection the focus handler just made; keep that selection instead.
    const int start = selectionStart();
    const int length = selectionLength();
    QLineEdit::mousePressEvent(event);
    if (focusedByThisClick_ && length > 0)
        setSelection(start, length);
    focusedByThisClick_ = false;
}

void HostBox::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const QString text = event->text();
    if (!enter && text.isEmpty()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    qint16 keyAscii = enter ? 13 : static_cast<qint16>(text.front().unicode());
    emit keyPress(keyAscii);
    if (keyAscii == 0) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}
