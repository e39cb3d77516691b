#pragma once
// Messages that may come from any thread (the device link's discovery thread reports
// there) shown as message boxes on the window's thread, one after another.
#include "core/message_sink.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

class QueuedMessageSink : public QObject, public dm::MessageSink {
    Q_OBJECT
public:
    explicit QueuedMessageSink(QObject* parent = nullptr) : QObject(parent) {}

    // Boxes belong to this window once it exists.
    void setWindow(QWidget* window) { window_ = window; }

    void showMessage(const std::string& text) override;

private:
    void show(const QString& text);
    QPointer<QWidget> window_;
};
