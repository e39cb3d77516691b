#pragma once
// Pictures of the window for the user guide: once the parameters are in, the window as
// it is; then the dose history is asked for and its tab shown, then its diagram; last,
// two edits of the parameters, one the check refuses, after "Send changes". The edits
// are discarded and the window closes when the pictures are written (or after a minute,
// when the dosimeter does not answer).
#include <QObject>
#include <QString>
#include <QTimer>

class MainWindow;
class QWidget;

class ScreenshotTour : public QObject {
    Q_OBJECT
public:
    // Files: <dir>/window-<en|ru>-parameters.png, <dir>/window-<en|ru>-dose-history.png and
    // <dir>/window-<en|ru>-diagram.png, <dir>/window-<en|ru>-editing.png.
    ScreenshotTour(MainWindow& window, QString dir);

    // Closes the window; the unsent-edits question it asks is answered Discard.
    void closeWindow();
    bool succeeded() const { return step_ == Step::Done; }

private:
    enum class Step { WaitParameters, WaitArchive, WaitDiagram, Edit, WaitOutOfRange, WaitUnsentQuestion, Done };
    void poll();
    bool save(const QString& what);
    bool save(const QString& what, QWidget& shown);
    // Types text into the value cell of the row with this key and ends the edit with Enter.
    bool type(const std::string& key, const QString& text);
    void fail();

    MainWindow& window_;
    QString dir_;
    Step step_ = Step::WaitParameters;
    int polls_ = 0;
    bool diagramSaved_ = false;
    QTimer timer_;
};
