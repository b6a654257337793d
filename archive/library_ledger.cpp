#include "archive/library_batch.h"

namespace Library {

namespace {

class JournalLedger : public Ledger
{
public:
    explicit JournalLedger(Journal &journal)
        : m_journal(journal)
    {
    }
    NextStep nextStep(const QString &cartridge, bool retryFailed) override
    {
        return m_journal.nextStep(cartridge, retryFailed);
    }
    QString lastProblem() override { return m_journal.lastProblem(); }
    bool begin(Attempt &attempt, QString &problem) override
    {
        return m_journal.begin(attempt, problem);
    }
    bool finish(const Attempt &attempt, QString &problem) override
    {
        return m_journal.finish(attempt, problem);
    }
    bool event(const QString &cartridge, int slot, const QString &drive, const QString &text,
        QString &problem) override
    {
        return m_journal.event(cartridge, slot, drive, text, problem);
    }
    std::vector<Attempt> latest() override { return m_journal.latest(); }
    bool writeSummaries(QString &problem) override { return m_journal.writeSummaries(problem); }

private:
    Journal &m_journal;
};

} // namespace

std::unique_ptr<Ledger> journalLedger(Journal &journal)
{
    return std::make_unique<JournalLedger>(journal);
}

} // namespace Library
