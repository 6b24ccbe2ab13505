#include "app/effect/EffectUpdateTableCellView.h"

#include <QHBoxLayout>
#include <QLabel>

EffectUpdateTableCellView::EffectUpdateTableCellView(QWidget* parent)
    : QWidget(parent), effectNameLabel_(new QLabel(this)), versionLabel_(new QLabel(this))
{
    setObjectName(QString::fromLatin1(kIdentifier));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 2);
    layout->addWidget(effectNameLabel_, 1);
    layout->addWidget(versionLabel_);
    for (QLabel* label : {effectNameLabel_, versionLabel_}) label->setTextFormat(Qt::PlainText);
}
