#include "app/outcome_texts.h"

namespace OutcomeTexts {

QString message(Imaging::RunOutcome outcome)
{
    switch (outcome) {
    case Imaging::RunOutcome::PositionUnknown:
        return QStringLiteral(" The tape drive did not report its position, \n"
                              " so no image was created. Press Create to \n"
                              " try again.");
    case Imaging::RunOutcome::FileNotCreated:
        return QStringLiteral(" The image file could not be created in the \n"
                              " selected folder. Choose another folder and \n"
                              " press Create again.");
    case Imaging::RunOutcome::WriteFailed:
        return QStringLiteral(" The image file could not be written; the \n"
                              " disk may be full. The file keeps what was \n"
                              " written so far but is not a complete image.");
    case Imaging::RunOutcome::Completed:
    case Imaging::RunOutcome::Abandoned:
        break;
    }
    return QString();
}

QString title(Imaging::RunOutcome outcome)
{
    switch (outcome) {
    case Imaging::RunOutcome::PositionUnknown:
        return QStringLiteral("   Tape position unknown");
    case Imaging::RunOutcome::FileNotCreated:
        return QStringLiteral("   Image not created");
    case Imaging::RunOutcome::WriteFailed:
        return QStringLiteral("   Image incomplete");
    case Imaging::RunOutcome::Completed:
    case Imaging::RunOutcome::Abandoned:
        break;
    }
    return QString();
}

} // namespace OutcomeTexts
