// What runs the test mail for the register flow: the small interface, and
// the form's runner, which sends it on a worker thread while the form waits,
// disabled but painted, behind a modal progress window with a Cancel button.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <thread>

#include "mailcheck/mail_check.h"

class QWidget;
class TestProgressDialog;

// Sends one test mail and tells what became of it. Tests script it.
class MailCheckRunner {
  public:
    virtual ~MailCheckRunner() = default;
    // SendTestMail's result for `arguments`: every failure, a Cancel
    // included (419), is a result of 1 with its code; raises nothing but
    // std::bad_alloc.
    virtual TestMailResult Run(const TestMailArguments& arguments) = 0;
};

class TestMailRunner final : public QObject, public MailCheckRunner {
  public:
    // The progress window is owned by `owner` (may be null) and every run
    // gets `options` (see the three-argument Run).
    explicit TestMailRunner(QWidget* owner = nullptr, TestMailOptions options = {});
    // Waits for a worker still running: after Cancel it only has to notice
    // (a host-name lookup in progress cannot be woken).
    ~TestMailRunner() override;

    TestMailRunner(const TestMailRunner&) = delete;
    TestMailRunner& operator=(const TestMailRunner&) = delete;

    // Sends the test mail with `arguments` and returns SendTestMail's
    // result. The owner's controls are disabled until it returns. Cancel
    // (or Esc, or closing the progress window) ends the exchange at once
    // and returns result 1 with code 419 and nothing else, without waiting
    // for the worker. A failure to start the worker is result 1 with its
    // code (408 for a thread that cannot start). options.abort,
    // options.onStage and options.onStartTlsRetry are the runner's own (the
    // progress window shows them); the rest is passed on.
    TestMailResult Run(QWidget* owner, const TestMailArguments& arguments,
                       const TestMailOptions& options);
    // The same with the owner and options given at construction.
    TestMailResult Run(const TestMailArguments& arguments) override {
        return Run(m_owner, arguments, m_options);
    }

    // The progress window of the run in progress; null between runs.
    TestProgressDialog* Progress() const { return m_dialog; }

  protected:
    bool event(QEvent* event) override;

  private:
    // Runs `call` on this object's thread, from any thread.
    void Post(std::function<void()> call);

    QWidget* m_owner;
    TestMailOptions m_options;
    std::thread m_worker;
    std::uint64_t m_run = 0;
    TestProgressDialog* m_dialog = nullptr;
    TestMailResult m_result;  // the run's, once its worker has finished
};
