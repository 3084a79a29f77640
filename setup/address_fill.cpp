// Looking the user's address up on a worker thread and filling the fields
// the user has left to the form.
#include "setup/address_fill.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <exception>
#include <optional>
#include <utility>

#include "setup/address_fill_texts.h"

namespace {

// The form's own timer ends a lookup this long after its deadline, so that
// the worker, which ends at the deadline itself, normally says so first;
// the timer covers a worker held up in a host-name lookup.
constexpr std::chrono::milliseconds kDeadlineGrace{250};

// An "@" with something after the last one.
bool IsAddress(const QString& text) {
    return !DomainOf(text).isEmpty();
}

std::optional<ServerCandidate> TableCandidate(const QString& address) {
    try {
        return ProviderTableCandidate(address.toStdString());
    } catch (const std::exception&) {
        // Only std::bad_alloc: the worker's lookup asks the table again.
        return std::nullopt;
    }
}

}  // namespace

AddressFill::AddressFill(const AddressFillControls& controls, AddressLookupOptions options)
    : m_controls(controls), m_options(std::move(options)), m_deadline(new QTimer(this)) {
    m_fields[kSmtpServer].edit = controls.smtpServer;
    m_fields[kSmtpPortNo].edit = controls.smtpPortNo;
    m_fields[kAccount].edit = controls.account;
    m_fields[kPopServer].edit = controls.popServer;
    m_fields[kPopPortNo].edit = controls.popPortNo;
    for (Field& field : m_fields) {
        connect(field.edit, &QLineEdit::textEdited, this, [this, &field] {
            if (!m_filling) {
                field.typed = true;
            }
        });
    }
    // A click on either box presets both ports: from then on they, and the
    // boxes, are the user's choice.
    for (QCheckBox* box : {controls.ssl, controls.auth}) {
        connect(box, &QCheckBox::clicked, this, [this] {
            m_boxesClicked = true;
            m_fields[kSmtpPortNo].typed = true;
            m_fields[kPopPortNo].typed = true;
        });
    }
    connect(controls.eMail, &QLineEdit::editingFinished, this, [this] { LookUpAddress(); });
    // Typing into E-Mail makes another address: its lookup starts when the
    // field is left again.
    connect(controls.eMail, &QLineEdit::textEdited, this, [this] {
        if (m_searching) {
            StopCurrent();
            m_controls.line->clear();
        }
    });
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] { OnDeadline(); });
}

AddressFill::~AddressFill() {
    StopCurrent();
    JoinFinished(true);
}

void AddressFill::Reset(bool fieldsAreDefaults) {
    StopCurrent();
    JoinFinished(false);
    m_controls.line->clear();
    for (Field& field : m_fields) {
        field.typed = false;
        field.formText = fieldsAreDefaults ? field.edit->text() : QString();
    }
    m_boxesClicked = false;
    m_boxesAreFormsOwn = fieldsAreDefaults;
    m_sslByForm = m_controls.ssl->isChecked();
    m_authByForm = m_controls.auth->isChecked();
}

bool AddressFill::LookUpAddress() {
    const QString address = m_controls.eMail->text().trimmed();
    if (!m_options.enabled || !IsAddress(address) || !m_controls.smtpServer->text().isEmpty() ||
        (m_searching && address == m_address)) {
        return m_searching;
    }
    StopCurrent();
    // A provider of the shipped table needs no DNS: its fields are filled
    // at once, on this thread, without waiting for a worker's turn.
    if (const std::optional<ServerCandidate> candidate = TableCandidate(address)) {
        m_address = address;
        Apply(*candidate);
        Finish(CandidateLine(*candidate));
        return false;
    }
    Start(address);
    return m_searching;
}

void AddressFill::AbortAll() {
    StopCurrent();
}

void AddressFill::Start(const QString& address) {
    JoinFinished(false);
    m_address = address;
    const std::uint64_t lookup = ++m_lookup;
    const auto deadline = std::chrono::steady_clock::now() + m_options.deadline;
    m_searching = true;
    m_controls.line->setText(SearchingLine(DomainOf(address)));
    m_deadline->start(m_options.deadline + kDeadlineGrace);
    try {
        Worker worker;
        worker.abort = std::make_shared<SmtpAbort>();
        worker.done = std::make_shared<std::atomic<bool>>(false);
        DiscoveryOptions discovery;
        discovery.abort = worker.abort;
        discovery.nameserver = m_options.nameserver;
        discovery.portMap = m_options.portMap;
        discovery.probe = m_options.probe;
        worker.thread = std::thread([this, lookup, deadline, discovery = std::move(discovery),
                                     text = address.toStdString(), done = worker.done] {
            bool first = true;
            DiscoveryOutcome outcome = DiscoveryOutcome::kNothingFound;
            try {
                outcome = DiscoverServers(
                    text, deadline, discovery, [&](const ServerCandidate& candidate) {
                        if (std::exchange(first, false)) {
                            QMetaObject::invokeMethod(
                                this, [this, lookup, candidate] { OnCandidate(lookup, candidate); },
                                Qt::QueuedConnection);
                        }
                    });
            } catch (const std::exception&) {
                // Only std::bad_alloc leaves it: as if nothing was found.
            }
            QMetaObject::invokeMethod(
                this, [this, lookup, outcome] { OnEnd(lookup, outcome); }, Qt::QueuedConnection);
            done->store(true);
        });
        m_current = std::move(worker);
    } catch (const std::exception&) {
        // No abort descriptor (ECSmtp) or no thread (std::system_error).
        Finish(QString::fromUtf8(kLineNothingFound));
    }
}

void AddressFill::StopCurrent() {
    m_searching = false;
    m_deadline->stop();
    ++m_lookup;  // whatever the stopped lookup still sends is dropped
    if (m_current.thread.joinable()) {
        m_current.abort->Abort();
        m_ended.push_back(std::move(m_current));
    }
    m_current = Worker{};
}

void AddressFill::JoinFinished(bool all) {
    std::erase_if(m_ended, [all](Worker& worker) {
        if (!all && !worker.done->load()) {
            return false;
        }
        worker.thread.join();
        return true;
    });
}

void AddressFill::OnCandidate(std::uint64_t lookup, const ServerCandidate& candidate) {
    if (lookup != m_lookup || !m_searching) {
        return;
    }
    Apply(candidate);
    // Only the first candidate is shown: the worker need not go on.
    Finish(CandidateLine(candidate));
}

void AddressFill::OnEnd(std::uint64_t lookup, DiscoveryOutcome outcome) {
    if (lookup == m_lookup && m_searching) {
        Finish(OutcomeLine(outcome, DomainOf(m_address)));
    }
}

void AddressFill::OnDeadline() {
    if (m_searching) {
        Finish(QString::fromUtf8(kLineTimedOut));
    }
}

void AddressFill::Finish(const QString& line) {
    m_controls.line->setText(line);
    StopCurrent();
    JoinFinished(false);
}

bool AddressFill::Fillable(const Field& field) const {
    const QString text = field.edit->text();
    return !field.typed && (text.isEmpty() || text == field.formText);
}

void AddressFill::Fill(Field& field, const QString& text) {
    if (field.edit->text() != text) {
        field.edit->selectAll();
        field.edit->insert(text);
    }
    field.formText = field.edit->text();
}

void AddressFill::Apply(const ServerCandidate& candidate) {
    const FilledServers filled = FilledFrom(candidate, m_address);
    m_filling = true;
    if (Fillable(m_fields[kSmtpServer])) {
        Fill(m_fields[kSmtpServer], filled.smtpServer);
    }
    // The boxes go with the port: set in code, so no port switching runs.
    // Both unticked count as empty.
    QCheckBox* ssl = m_controls.ssl;
    QCheckBox* auth = m_controls.auth;
    const bool boxesByForm = (m_boxesAreFormsOwn && ssl->isChecked() == m_sslByForm &&
                              auth->isChecked() == m_authByForm) ||
                             (!ssl->isChecked() && !auth->isChecked());
    if (Fillable(m_fields[kSmtpPortNo])) {
        Fill(m_fields[kSmtpPortNo], filled.smtpPortNo);
        if (!m_boxesClicked && boxesByForm) {
            ssl->setChecked(filled.ssl);
            auth->setChecked(filled.auth);
            m_boxesAreFormsOwn = true;
            m_sslByForm = filled.ssl;
            m_authByForm = filled.auth;
        }
    }
    if (Fillable(m_fields[kAccount])) {
        Fill(m_fields[kAccount], filled.account);
    }
    if (!filled.popServer.isEmpty()) {
        for (const auto& [index, text] :
             {std::pair{kPopServer, filled.popServer}, {kPopPortNo, filled.popPortNo}}) {
            if (Fillable(m_fields[index])) {
                Fill(m_fields[index], text);
            }
        }
    }
    m_filling = false;
}
