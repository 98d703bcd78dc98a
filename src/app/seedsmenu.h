#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace cleftsim {

// "Seeds from the Clock" and "Fixed Seed..." of the File menu: where the
// experiment windows' Runs take their seeds, the clock as always or a seed
// the user fixes to repeat a figure or its batch command.
class SeedsMenu : public QObject {
    Q_OBJECT
public:
    using ErrorPresenter = std::function<void(const QString &message)>;
    // Adds the two entries to a menu, checked as the seed choice is; the
    // seed's question is a dialog of `dialogParent`, its refusals go to
    // showError.
    SeedsMenu(QMenu *menu, QWidget *dialogParent, ErrorPresenter showError);

    void ClockSeedsClick();
    // Asks for the seed; a text that is no seed is refused with what is
    // accepted, and asked again. A cancel leaves the choice as it was.
    void FixedSeedClick();
    // Makes the Runs seed from the clock (fixed false) or from seed.
    void chooseSeeds(bool fixed, std::uint32_t seed = 0);
    // Replaces the question for the fixed seed: gets the seed shown, returns
    // the seed chosen or nothing for a cancel.
    void setSeedAsker(std::function<std::optional<std::uint32_t>(std::uint32_t shown)> asker)
    {
        m_askSeed = std::move(asker);
    }

private:
    // The seed dialog: the seed typed, or nothing for a cancel.
    std::optional<std::uint32_t> askSeed(std::uint32_t shown);

    QWidget *m_dialogParent;
    ErrorPresenter m_showError;
    QAction *m_clockSeeds = nullptr;
    QAction *m_fixedSeed = nullptr;
    std::function<std::optional<std::uint32_t>(std::uint32_t)> m_askSeed;
};

} // namespace cleftsim
