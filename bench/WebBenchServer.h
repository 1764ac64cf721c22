#pragma once
// The real web view on a free loopback port, fed by a real intake whose window is always ready
// and whose lines are recorded nowhere: what the web drivers measure against.
#include <QObject>

#include <memory>
#include <optional>
#include <string>

#include "bench/BenchLoop.h"
#include "core/Clock.h"
#include "core/Intake.h"
#include "core/Recorder.h"
#include "core/Settings.h"
#include "core/StringTable.h"
#include "core/ViewState.h"
#include "web/WebService.h"

namespace bench {

class StillWindow : public skiro::IntakeView {
  public:
    skiro::Rect clientRect() const override { return {0, 0, 400, 300}; }
    void invalidate(const skiro::Rect&, bool) override {}
    void scrollStep(int) override {}
};

class NoRecorder : public skiro::LineRecorder {
  public:
    void recordLine(std::string_view) override {}
};

struct WebBenchServer {
    skiro::Settings settings;
    skiro::SystemClock clock;
    skiro::StringTable strings;
    NoRecorder recorder;
    skiro::ViewState state;
    StillWindow window;
    skiro::Intake intake{settings, clock, strings, recorder, state, window};
    std::unique_ptr<skiro::WebService> service;
    quint16 port = 0;

    // Listens with `code` as the access code (none when empty), under `limits` when given.
    explicit WebBenchServer(const QByteArray& code = {},
                            std::optional<skiro::WebLimits> limits = std::nullopt) {
        service = std::make_unique<skiro::WebService>(settings);
        QObject::connect(service.get(), &skiro::WebService::listening,
                         [this](quint16 p) { port = p; });
        intake.setObserver(service.get());
        if (limits)
            service->setLimits(*limits);
        service->listen({0, false, code, 0});
        runUntil([this] { return port != 0; }, 5000);
    }

    // A line that the display shows at once.
    void show(const std::string& line) {
        intake.receiveText(line + "\r");
        intake.commitLine(0);
    }
    // A line that arrives while the display is still busy with earlier ones.
    void arrive(const std::string& line) { intake.receiveText(line + "\r"); }
};

} // namespace bench
