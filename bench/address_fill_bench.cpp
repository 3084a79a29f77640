// How fast the real form (offscreen) fills its server fields from an
// address, and whether its event loop keeps turning while a lookup waits:
//   TableHit  leaving E-Mail with a provider-table address, until
//             SMTP-Server is filled (target under 5 ms);
//   Srv       the same for a domain whose SRV record a local dnsmasq
//             answers (target under 50 ms);
//   Silent    a nameserver that never answers: the longest gap between the
//             ticks of a 1 ms timer while the lookup runs to its 3 s
//             deadline (target: no gap over 16 ms).
// Each run is timed on its own; the program ends by printing the README's
// table with the machine it ran on.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_runs.h"
#include "setup/form_fields.h"
#include "setup/form_template.h"
#include "setup/setup_dlg.h"
#include "tests/discovery/dnsmasq_server.h"
#include "tests/discovery/fake_nameserver.h"
#include "tests/settings/temp_folder.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// One first-start form, shown and active so that E-Mail can be left.
class Form {
  public:
    explicit Form(const std::string& nameserver, bool probe) {
        SetupDlgServices services;
        services.storeFile = m_folder.Path() / "registry.db";
        services.logonName = [] { return std::string("bench"); };
        services.addressLookup.nameserver = nameserver;
        services.addressLookup.probe = probe;
        m_dlg = std::make_unique<CSetupDlg>(std::move(services));
        m_dlg->OnInitDialog();
        m_dlg->show();
        m_dlg->activateWindow();
        for (int i = 0; i < 1000 && !m_dlg->isActiveWindow(); ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 1);
        }
    }
    QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(m_dlg->Control(id)); }

    // Back to the first-start fields with `address` typed and E-Mail holding
    // the focus; false when it cannot get the focus.
    bool Prepare(const QString& address) {
        m_dlg->SetFields(FirstStartFields());
        m_dlg->ServerFill().Reset(true);
        Edit(ID_EMAIL)->setText(address);
        Edit(ID_EMAIL)->setFocus();
        QApplication::processEvents();
        return Edit(ID_EMAIL)->hasFocus();
    }
    // Leaves E-Mail (the focus moves to POP-Server) and turns the event loop
    // until the lookup has ended; returns whether SMTP-Server was filled.
    bool LeaveAndWait() {
        Edit(ID_POP_SERVER)->setFocus();
        while (m_dlg->ServerFill().Searching()) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return !Edit(ID_SMTP_SERVER)->text().isEmpty();
    }

  private:
    TempFolder m_folder;
    std::unique_ptr<CSetupDlg> m_dlg;
};

struct Row {
    const char* what;
    const char* measured;
    double target;
    std::vector<double> samples;
};
std::map<std::string, Row> g_rows;

void TimeFill(benchmark::State& state, Form& form, const QString& address, Row& row) {
    for (auto _ : state) {
        if (!form.Prepare(address)) {
            state.SkipWithError("E-Mail did not take the focus");
            return;
        }
        const Clock::time_point start = Clock::now();
        const bool filled = form.LeaveAndWait();
        const double ms = Ms(Clock::now() - start);
        if (!filled) {
            state.SkipWithError("the fields were not filled");
            return;
        }
        state.SetIterationTime(ms / 1000);
        row.samples.push_back(ms);
    }
}

void TableHit(benchmark::State& state) {
    const FakeNameserver silent;  // a table hit asks no DNS
    Form form(silent.Nameserver(), true);
    TimeFill(
        state, form, QStringLiteral("taro@gmail.com"),
        g_rows
            .try_emplace(
                "1",
                Row{"provider table (gmail.com)", "leaving E-Mail to SMTP-Server filled", 5, {}})
            .first->second);
}

void Srv(benchmark::State& state) {
    const DnsmasqServer dns({"srv-host=_submissions._tcp.srv.test,mail.srv.test,465,0,1"});
    Form form(dns.Nameserver(), false);
    TimeFill(
        state, form, QStringLiteral("taro@srv.test"),
        g_rows
            .try_emplace(
                "2",
                Row{"SRV from a local dnsmasq", "leaving E-Mail to SMTP-Server filled", 50, {}})
            .first->second);
}

void Silent(benchmark::State& state) {
    const FakeNameserver silent;
    Form form(silent.Nameserver(), true);
    Row& row = g_rows
                   .try_emplace("3", Row{"a nameserver that never answers (3 s deadline)",
                                         "longest gap between 1 ms timer ticks",
                                         16,
                                         {}})
                   .first->second;
    for (auto _ : state) {
        if (!form.Prepare(QStringLiteral("taro@silent.test"))) {
            state.SkipWithError("E-Mail did not take the focus");
            return;
        }
        Clock::time_point last = Clock::now();
        double longest = 0;
        QTimer ticks;
        ticks.setTimerType(Qt::PreciseTimer);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            longest = std::max(longest, Ms(now - last));
            last = now;
        });
        ticks.start(1);
        const Clock::time_point start = Clock::now();
        form.LeaveAndWait();
        longest = std::max(longest, Ms(Clock::now() - last));
        state.SetIterationTime(Ms(Clock::now() - start) / 1000);
        row.samples.push_back(longest);
    }
}

// "Machine: <CPU model>, N CPUs at M MHz", as the other tables name it.
std::string MachineLine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown CPU", mhz = "?";
    while (std::getline(cpuinfo, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string value = line.substr(std::min(colon + 2, line.size()));
        if (model == "unknown CPU" && line.starts_with("model name")) {
            model = value;
        } else if (mhz == "?" && line.starts_with("cpu MHz")) {
            mhz = std::to_string(static_cast<int>(std::stod(value)));
        }
    }
    return "Machine: " + model + ", " + std::to_string(std::thread::hardware_concurrency()) +
           " CPUs at " + mhz + " MHz";
}

void PrintTable() {
    std::printf("\n| case | measured | runs | median ms | p95 ms | max ms | target ms | met |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---|\n");
    for (const auto& [key, row] : g_rows) {
        const double most = Percentile(row.samples, 1.0);
        std::printf("| %s | %s | %zu | %.2f | %.2f | %.2f | < %.0f | %s |\n", row.what,
                    row.measured, row.samples.size(), Percentile(row.samples, 0.5),
                    Percentile(row.samples, 0.95), most, row.target,
                    !row.samples.empty() && most < row.target ? "yes" : "no");
    }
    std::printf("\n%s\n", MachineLine().c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("TableHit", TableHit)->UseManualTime()->Iterations(200);
    benchmark::RegisterBenchmark("Srv", Srv)->UseManualTime()->Iterations(100);
    benchmark::RegisterBenchmark("Silent", Silent)->UseManualTime()->Iterations(3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    return 0;
}
