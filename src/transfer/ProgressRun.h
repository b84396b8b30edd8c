#pragma once

#include "exchange/Transfer.h"

#include <QString>

#include <memory>

class FrmStato;
class QWidget;

namespace transfer {

// The progress window over an export or an import: shown with `caption` while the object lives,
// closed when it goes (an error included). The run's progress calls move its count and let the
// user in; "Interrompi" makes them return false.
class ProgressRun {
  public:
    explicit ProgressRun(const QString& caption, bool percent = false);
    ~ProgressRun();
    ProgressRun(const ProgressRun&) = delete;
    ProgressRun& operator=(const ProgressRun&) = delete;

    exchange::Progress callback();

  private:
    std::unique_ptr<FrmStato> m_window;
};

// Runs `choose`, a file dialog; false when the user cancelled it (no message: nothing happened).
bool chosen(const std::function<void()>& choose);

} // namespace transfer
