#include "app/storedstateslist.h"

#include "app/parameterpanel.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace cleftsim {

StoredStatesList::StoredStatesList(QWidget *panel, QObject *parent)
    : QObject(parent)
{
    addPanelLabel(panel, QStringLiteral("Label1"), QStringLiteral("Stored States:"), 6, 396, true);
    m_listBox = new QListWidget(panel);
    m_listBox->setObjectName(QStringLiteral("ListBox1"));
    m_listBox->setGeometry(3, 416, 132, 100);
    m_listBox->setUniformItemSizes(true);
    m_listBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Only the user's selection of an entry counts: the list makes its first
    // entry current, without selecting it, when it gains the focus otherwise.
    connect(m_listBox, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_listBox->selectedItems().isEmpty())
            showSelection();
    });

    m_restoreBtn = new QPushButton(QStringLiteral("Restore"), panel);
    m_restoreBtn->setObjectName(QStringLiteral("RestoreBtn"));
    m_restoreBtn->setGeometry(4, 532, 60, 20);
    m_restoreBtn->setEnabled(false);
    connect(m_restoreBtn, &QPushButton::clicked, this, &StoredStatesList::restoreClicked);
    m_label20 = addPanelLabel(panel, QStringLiteral("Label20"), QStringLiteral("default"), 68, 534);

    m_storeBtn = new QPushButton(QStringLiteral("Store"), panel);
    m_storeBtn->setObjectName(QStringLiteral("StoreBtn"));
    m_storeBtn->setGeometry(4, 554, 60, 20);
    connect(m_storeBtn, &QPushButton::clicked, this, &StoredStatesList::storeClicked);
    addPanelLabel(panel, QStringLiteral("Label21"), QStringLiteral("current"), 68, 556);
}

void StoredStatesList::add(const QString &name)
{
    m_listBox->addItem(name);
    m_listBox->item(m_listBox->count() - 1)->setSizeHint(QSize(m_listBox->width() - 4, 16));
}

void StoredStatesList::fill(const std::vector<ParameterSet> &states)
{
    m_listBox->clear();
    for (const ParameterSet &state : states)
        add(QString::fromStdString(state.Name));
    m_restoreBtn->setEnabled(false);
    m_label20->setText(QStringLiteral("default"));
    m_label20->adjustSize();
}

int StoredStatesList::chosenRow() const
{
    const QList<QListWidgetItem *> selected = m_listBox->selectedItems();
    return selected.isEmpty() ? m_listBox->currentRow() : m_listBox->row(selected.constFirst());
}

void StoredStatesList::showSelection()
{
    const QList<QListWidgetItem *> selected = m_listBox->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem *item = selected.constFirst();
    m_restoreBtn->setEnabled(true);
    m_label20->setText(item->text());
    m_label20->adjustSize();
}

void StoredStatesList::select(const QString &name)
{
    const auto items = m_listBox->findItems(name, Qt::MatchExactly);
    if (!items.isEmpty()) {
        m_listBox->setCurrentItem(items.constFirst());
        showSelection();
    }
}

} // namespace cleftsim
