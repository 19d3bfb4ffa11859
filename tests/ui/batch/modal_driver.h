#pragma once
// Drives modal windows from inside their own event loops: each step runs on
// the next modal window that appears, in order, as a user would answer it.

#include <deque>
#include <functional>

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace tovi::test {

class ModalDriver {
public:
    using Step = std::function<void(QWidget *)>;

    ModalDriver()
    {
        m_poll.setInterval(2);
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start();
    }

    ModalDriver &then(Step step)
    {
        m_steps.push_back(std::move(step));
        return *this;
    }

    int handled() const { return m_handled; }
    bool done() const { return m_steps.empty(); }

private:
    static constexpr const char *kSeen = "tovi_test_seen";

    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property(kSeen).toBool() || m_steps.empty())
            return;
        // Dialogs of one run may reuse an address: mark each one handled.
        modal->setProperty(kSeen, true);
        Step step = std::move(m_steps.front());
        m_steps.pop_front();
        ++m_handled;
        step(modal);
    }

    QTimer m_poll;
    std::deque<Step> m_steps;
    int m_handled = 0;
};

}  // namespace tovi::test
