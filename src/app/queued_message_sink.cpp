#include "app/queued_message_sink.h"

#include "app/qt_user_dialogs.h"
#include "core/string_table.h"
#include "qt/qt_text.h"

#include <QMessageBox>
#include <QMetaObject>

void QueuedMessageSink::showMessage(const std::string& text) {
    const QString message = dm::Q(text);
    QMetaObject::invokeMethod(this, [this, message] { show(message); }, Qt::QueuedConnection);
}

void QueuedMessageSink::show(const QString& text) {
    // The window's title is in its language; before there is one, the program's name.
    QMessageBox box(QMessageBox::NoIcon, MessageBoxTitle(window_.data(), dm::Language::English), text,
                    QMessageBox::Ok, window_.data());
    box.exec();
}
