#include "app/AppEnding.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "acquisition/MeasurementSetup.h"
#include "acquisition/WorkerThread.h"
#include "dialogs/wx/CMessageBox.h"

namespace tamix {
namespace {

constexpr int kUnwindStepMs = 10;

// Every modal dialog open now, innermost last. A dialog's modal loop runs on
// the stack of the handler that opened it: the windows may only go once
// every such loop has returned.
class ModalDialogs final : public wxModalDialogHook {
  public:
    std::vector<wxWeakRef<wxDialog>> open;

  protected:
    int Enter(wxDialog* dialog) override {
        open.emplace_back(dialog);
        return wxID_NONE;
    }
    void Exit(wxDialog* dialog) override {
        const auto it = std::find_if(open.rbegin(), open.rend(),
                                     [dialog](const auto& d) { return d.get() == dialog; });
        if (it != open.rend()) open.erase(std::next(it).base());
    }
};

class UnwindTimer final : public wxTimer {
  public:
    void Notify() override;
};

struct EndingState {
    WorkerThread* worker = nullptr;
    std::function<void()> quit;
    std::function<void()> saveSettings;
    std::unique_ptr<ModalDialogs> dialogs;
    std::unique_ptr<UnwindTimer> timer;
    bool begun = false;
};

EndingState& TheEnding() {
    static EndingState ending;
    return ending;
}

void StopRunAndWait() {
    TheSetup().RequestStop();
    // The worker completes the file at the end of its current cycle.
    if (WorkerThread* worker = TheEnding().worker) worker->Join();
}

// Closes the innermost dialog and comes back once its loop has returned;
// with none left, quits.
void UnwindStep() {
    EndingState& e = TheEnding();
    if (e.dialogs) {
        auto& open = e.dialogs->open;
        open.erase(std::remove_if(open.begin(), open.end(),
                                  [](const auto& d) { return d.get() == nullptr; }),
                   open.end());
        if (!open.empty()) {
            wxDialog* innermost = open.back().get();
            // One already told to end is still unwinding: wait for it.
            if (innermost->IsModal()) innermost->EndModal(wxID_CANCEL);
            if (e.timer) e.timer->StartOnce(kUnwindStepMs);
            return;
        }
    }
    if (e.quit) e.quit();
    // A closed frame is deleted, and the program ends, when the event loop next
    // goes idle; with the run's refresh stopped nothing else may bring that on.
    wxWakeUpIdle();
}

void UnwindTimer::Notify() {
    UnwindStep();
}

}  // namespace

void SetEndingActions(WorkerThread* worker, std::function<void()> quit,
                      std::function<void()> saveSettings) {
    EndingState& e = TheEnding();
    e.worker = worker;
    e.quit = std::move(quit);
    e.saveSettings = std::move(saveSettings);
    if (!e.dialogs) {
        e.dialogs = std::make_unique<ModalDialogs>();
        e.dialogs->Register();
    }
    if (!e.timer) e.timer = std::make_unique<UnwindTimer>();
}

void ReleaseEndingActions() {
    EndingState& e = TheEnding();
    if (e.timer) e.timer->Stop();
    e.timer.reset();
    if (e.dialogs) e.dialogs->Unregister();
    e.dialogs.reset();
    e.worker = nullptr;
    e.quit = nullptr;
    e.saveSettings = nullptr;
}

bool Ending() {
    return TheEnding().begun;
}

void StopRunAndQuit() {
    EndingState& e = TheEnding();
    if (e.begun) return;  // a second signal while the first one is handled
    e.begun = true;
    // From now on a box would wait for an operator who has gone.
    EndMessageBoxes();
    StopRunAndWait();
    UnwindStep();
}

void StopRunAndExitNow(int status) {
    EndingState& e = TheEnding();
    e.begun = true;
    EndMessageBoxes();
    StopRunAndWait();
    if (e.saveSettings) e.saveSettings();
    std::_Exit(status);
}

}  // namespace tamix
