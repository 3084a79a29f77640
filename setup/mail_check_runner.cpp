// Runs the test mail on a worker thread behind the progress window.
#include "setup/mail_check_runner.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

#include "setup/progress_dialog.h"

namespace {

// Disables the owner's controls (not its windows: the progress window is
// one of its children) and enables them again on the way out.
class DisabledControls {
  public:
    explicit DisabledControls(QWidget* owner) {
        if (owner == nullptr) {
            return;
        }
        for (QWidget* control : owner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!control->isWindow() && control->isEnabled()) {
                control->setEnabled(false);
                m_disabled.emplace_back(control);
            }
        }
    }
    ~DisabledControls() {
        for (const QPointer<QWidget>& control : m_disabled) {
            if (control) {
                control->setEnabled(true);
            }
        }
    }
    DisabledControls(const DisabledControls&) = delete;
    DisabledControls& operator=(const DisabledControls&) = delete;

  private:
    std::vector<QPointer<QWidget>> m_disabled;
};

// A call from the worker, run on the runner's thread.
class WorkerCall final : public QEvent {
  public:
    explicit WorkerCall(std::function<void()> call) : QEvent(Type()), m_call(std::move(call)) {}
    static QEvent::Type Type() {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    void Run() const { m_call(); }

  private:
    std::function<void()> m_call;
};

}  // namespace

bool TestMailRunner::event(QEvent* event) {
    if (event->type() == WorkerCall::Type()) {
        static_cast<WorkerCall*>(event)->Run();
        return true;
    }
    return QObject::event(event);
}

void TestMailRunner::Post(std::function<void()> call) {
    // Thread-safe; the event belongs to Qt from here on. Events still queued
    // when the runner goes are dropped with it.
    QCoreApplication::postEvent(this, new WorkerCall(std::move(call)));
}

TestMailRunner::TestMailRunner(QWidget* owner, TestMailOptions options)
    : m_owner(owner), m_options(std::move(options)) {}

TestMailRunner::~TestMailRunner() {
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

namespace {

TestMailResult FailedBeforeSending(const TestMailOptions& options, std::int32_t code) {
    ReportTestMailFailure(options, ECSmtp(code));
    TestMailResult result;
    result.code = code;
    return result;
}

}  // namespace

TestMailResult TestMailRunner::Run(QWidget* owner, const TestMailArguments& arguments,
                                   const TestMailOptions& options) {
    // One test mail at a time: g_boundary is process-wide.
    if (m_worker.joinable()) {
        m_worker.join();
    }
    std::shared_ptr<SmtpAbort> abort;
    try {
        abort = std::make_shared<SmtpAbort>();
    } catch (const ECSmtp& failure) {
        return FailedBeforeSending(options, failure.Code());
    }
    const std::uint64_t run = ++m_run;
    TestProgressDialog dialog(owner);
    m_dialog = &dialog;
    m_result = TestMailResult{};

    // The worker reaches the window only through events queued to this
    // object, which checks that the run is still the one on show.
    TestMailOptions workerOptions = options;
    workerOptions.abort = abort;
    workerOptions.onStage = [this, run](SmtpStage stage) {
        Post([this, run, stage] {
            if (run == m_run && m_dialog != nullptr) {
                m_dialog->ShowStage(stage);
            }
        });
    };
    workerOptions.onStartTlsRetry = [this, run] {
        Post([this, run] {
            if (run == m_run && m_dialog != nullptr) {
                m_dialog->ShowStartTlsRetry();
            }
        });
    };
    try {
        m_worker = std::thread([this, run, arguments, workerOptions] {
            TestMailResult result;
            try {
                result = SendTestMail(arguments, workerOptions);
            } catch (...) {
                // SendTestMail lets out nothing but std::bad_alloc; an
                // exception must not leave the thread (std::terminate), and
                // the window is told below: the test did not pass.
                result = TestMailResult{};
                result.code = ERR_NO_MEMORY;
            }
            Post([this, run, result] {
                if (run == m_run && m_dialog != nullptr) {
                    m_result = result;
                    m_dialog->Finish(m_result.result);
                }
            });
        });
    } catch (const std::system_error&) {
        m_dialog = nullptr;
        return FailedBeforeSending(options, ERR_NO_THREAD);
    }

    int outcome = QDialog::Rejected;
    {
        const DisabledControls disabled(owner);
        outcome = dialog.exec();
    }
    m_dialog = nullptr;
    if (outcome != QDialog::Accepted) {
        abort->Abort();
        TestMailResult cancelled;
        cancelled.code = ERR_CANCELLED;
        return cancelled;
    }
    return std::move(m_result);
}
