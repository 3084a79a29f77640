// Fills the form's server fields from the user's address: leaving the
// E-Mail field with an address in it, while SMTP-Server is empty, looks the
// address's domain up (DiscoverServers) on a worker thread; the first
// candidate fills the fields that are still the form's own, and the line
// under the fields says where the values came from.
//
// The form stays responsive: the lookup never blocks its thread, a new
// lookup aborts the one before, and one that has not ended by its deadline
// is given up. Results travel to the form's thread as queued calls to this
// object, which waits for every worker before it goes, so no result
// reaches a destroyed widget.
#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/server_discovery.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTimer;

// How the form looks an address up; the program uses the defaults.
struct AddressLookupOptions {
    // Test seam: false leaves every field to the user (tests of other parts).
    bool enabled = true;
    // A lookup is given up this long after it starts.
    std::chrono::milliseconds deadline{3000};
    // Test seams, passed on as DiscoveryOptions' fields of the same names.
    std::string nameserver{};
    std::map<std::uint16_t, std::uint16_t> portMap{};
    bool probe = true;
};

// The form's controls the lookup reads and fills. Not owned; they must
// outlive the AddressFill.
struct AddressFillControls {
    QLineEdit* eMail = nullptr;
    QLineEdit* smtpServer = nullptr;
    QLineEdit* smtpPortNo = nullptr;
    QCheckBox* ssl = nullptr;
    QCheckBox* auth = nullptr;
    QLineEdit* account = nullptr;
    QLineEdit* popServer = nullptr;
    QLineEdit* popPortNo = nullptr;
    QLabel* line = nullptr;  // the source line
};

class AddressFill final : public QObject {
  public:
    // Watches the controls (every pointer must be set): leaving E-Mail
    // starts a lookup (LookUpAddress); typing into a field, or clicking a
    // box (which presets both ports), makes it the user's for good.
    AddressFill(const AddressFillControls& controls, AddressLookupOptions options);
    // Aborts every lookup and waits for its worker: a worker in a host-name
    // lookup ends when that returns.
    ~AddressFill() override;

    AddressFill(const AddressFill&) = delete;
    AddressFill& operator=(const AddressFill&) = delete;

    // The form has opened: ends any lookup, empties the line and forgets
    // what the user typed. With `fieldsAreDefaults` the fields' current
    // texts and boxes are the form's own (the first-start ports and SSL box)
    // and a candidate may replace them; otherwise only an empty field is
    // filled.
    void Reset(bool fieldsAreDefaults);

    // What leaving E-Mail does. When its text has an "@" with something
    // after it, SMTP-Server is empty, lookups are enabled and no lookup of
    // the same text runs: aborts the running lookup; fills the fields at
    // once for a domain of the shipped table (ProviderTableCandidate);
    // otherwise starts a lookup on a worker thread, with a deadline of
    // now + options.deadline, and shows the searching line. Returns whether
    // a lookup runs afterwards. A
    // worker that cannot start ends the lookup with the nothing-found line.
    bool LookUpAddress();

    // Aborts every lookup without waiting (the form is closing); the line
    // keeps its text.
    void AbortAll();

    // Whether a lookup is running (its candidate or end not yet shown).
    bool Searching() const { return m_searching; }

  private:
    struct Worker {
        std::shared_ptr<SmtpAbort> abort;
        std::shared_ptr<std::atomic<bool>> done;
        std::thread thread;
    };
    // A field the lookup may fill: its text and whether the user has typed
    // into it; formText is what the form put there last.
    struct Field {
        QLineEdit* edit = nullptr;
        bool typed = false;
        QString formText;
    };
    enum FieldIndex { kSmtpServer, kSmtpPortNo, kAccount, kPopServer, kPopPortNo, kFieldCount };

    void Start(const QString& address);
    void StopCurrent();
    void JoinFinished(bool all);
    void OnCandidate(std::uint64_t lookup, const ServerCandidate& candidate);
    void OnEnd(std::uint64_t lookup, DiscoveryOutcome outcome);
    void OnDeadline();
    void Finish(const QString& line);
    void Apply(const ServerCandidate& candidate);
    bool Fillable(const Field& field) const;
    // Replaces the field's text as one undo step (Ctrl+Z restores it).
    void Fill(Field& field, const QString& text);

    AddressFillControls m_controls;
    AddressLookupOptions m_options;
    std::array<Field, kFieldCount> m_fields;
    bool m_boxesClicked = false;
    // Whether the boxes' states are the form's own (the first-start SSL box
    // or a fill), and those states.
    bool m_boxesAreFormsOwn = false;
    bool m_sslByForm = false;
    bool m_authByForm = false;
    bool m_filling = false;  // the form's own edits, not the user's

    std::uint64_t m_lookup = 0;  // the running lookup's number; results of others are dropped
    bool m_searching = false;
    QString m_address;  // the address looked up
    QTimer* m_deadline;
    Worker m_current;
    std::vector<Worker> m_ended;  // aborted, perhaps still running
};
