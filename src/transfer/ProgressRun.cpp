#include "transfer/ProgressRun.h"

#include "printing/FrmStato.h"
#include "store/DbError.h"

namespace transfer {

ProgressRun::ProgressRun(const QString& caption, bool percent) : m_window(std::make_unique<FrmStato>())
{
    m_window->setCaption(caption);
    m_window->setPercent(percent);
    m_window->Form_Load();
}

ProgressRun::~ProgressRun()
{
    m_window->Form_Unload();
}

exchange::Progress ProgressRun::callback()
{
    FrmStato* window = m_window.get();
    return [window](qint64 done, qint64 total) { return window->advance(done, total); };
}

bool chosen(const std::function<void()>& choose)
{
    try {
        choose();
        return true;
    } catch (const store::DbError& e) {
        if (e.number() == store::ErrDialogCancelled) {
            return false;
        }
        throw;
    }
}

} // namespace transfer
