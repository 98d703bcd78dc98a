#include "app/seedsmenu.h"

#include "widgets/currentmodel.h"

#include <QActionGroup>
#include <QApplication>
#include <QInputDialog>
#include <QMenu>

namespace cleftsim {

SeedsMenu::SeedsMenu(QMenu *menu, QWidget *dialogParent, ErrorPresenter showError)
    : QObject(dialogParent)
    , m_dialogParent(dialogParent)
    , m_showError(std::move(showError))
{
    auto *seeds = new QActionGroup(dialogParent);
    m_clockSeeds
        = menu->addAction(QStringLiteral("Seeds from the &Clock"), this, &SeedsMenu::ClockSeedsClick);
    m_clockSeeds->setObjectName(QStringLiteral("ClockSeeds1"));
    m_fixedSeed = menu->addAction(QStringLiteral("Fi&xed Seed..."), this, &SeedsMenu::FixedSeedClick);
    m_fixedSeed->setObjectName(QStringLiteral("FixedSeed1"));
    for (QAction *a : {m_clockSeeds, m_fixedSeed}) {
        a->setCheckable(true);
        seeds->addAction(a);
    }
    chooseSeeds(seedChoice().fixed, seedChoice().seed);
}

void SeedsMenu::ClockSeedsClick()
{
    chooseSeeds(false, seedChoice().seed);
}

void SeedsMenu::FixedSeedClick()
{
    const std::uint32_t shown = seedChoice().seed;
    const std::optional<std::uint32_t> seed = m_askSeed ? m_askSeed(shown) : askSeed(shown);
    // A cancel leaves the choice as it was.
    chooseSeeds(seed ? true : seedChoice().fixed, seed ? *seed : shown);
}

std::optional<std::uint32_t> SeedsMenu::askSeed(std::uint32_t shown)
{
    QInputDialog dialog(m_dialogParent);
    dialog.setWindowTitle(QApplication::applicationDisplayName());
    dialog.setLabelText(QStringLiteral("Seed of the next Runs, 0 to 4294967295\n"
                                       "(Records trial r of a figure takes a seed mixed from it and r):"));
    dialog.setTextValue(QString::number(shown));
    // What is typed stays as typed: a text that is no seed is refused as
    // a whole, with what is accepted, and shown again to be mended.
    while (dialog.exec() == QDialog::Accepted) {
        const QString text = dialog.textValue().trimmed();
        bool ok = !text.isEmpty() && text.size() <= 10;
        for (const QChar c : text)
            ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const qulonglong value = ok ? text.toULongLong(&ok) : 0;
        if (ok && value <= 0xFFFFFFFFull)
            return static_cast<std::uint32_t>(value);
        // Says what it takes before it asks again.
        m_showError(
            QStringLiteral("%1 is not a seed: accepted 0 to 4294967295 (a whole number "
                           "of at most 10 digits).")
                .arg(dialog.textValue().isEmpty() ? QStringLiteral("An empty text") : dialog.textValue()));
    }
    return std::nullopt;
}

void SeedsMenu::chooseSeeds(bool fixed, std::uint32_t seed)
{
    seedChoice() = SeedChoice {fixed, seed};
    m_clockSeeds->setChecked(!fixed);
    m_fixedSeed->setChecked(fixed);
    m_fixedSeed->setText(
        fixed ? QStringLiteral("Fi&xed Seed (%1)...").arg(seed) : QStringLiteral("Fi&xed Seed..."));
}

} // namespace cleftsim
