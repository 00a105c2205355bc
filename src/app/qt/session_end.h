// The end of a desktop session on Linux, as a call on the window's thread.
#pragma once
// The signals a desktop session ends a Linux program with (SIGTERM from the
// session's manager or logind, SIGHUP when its terminal or X session goes),
// turned into a call on the window's thread.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace jor::app {

class SessionEnd : public QObject {
    Q_OBJECT
public:
    // Calls `ended` from the event loop (a yield of a run included) once one
    // of the signals has come; one object per process.
    explicit SessionEnd(std::function<void()> ended, QObject* parent = nullptr);
    ~SessionEnd() override;

private:
    std::function<void()> ended_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace jor::app
