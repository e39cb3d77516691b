#include "app/queued_message_sink.h"

#include <QMessageBox>
#include <QMetaObject>

void QueuedMessageSink::showMessage(const std::string& text) {
    const QString message = QString::fromStdString(text);
    QMetaObject::invokeMethod(this, [this, message] { show(message); }, Qt::QueuedConnection);
}

void QueuedMessageSink::show(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("dosimeter-manager"), text, QMessageBox::Ok,
                    window_.data());
    box.exec();
}
