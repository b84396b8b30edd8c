#include "books/FrmBiblio.h"

#include <QCloseEvent>

FrmBiblio::FrmBiblio(QWidget* parent) : QWidget(parent) { setObjectName(QStringLiteral("FrmBiblio")); }
FrmBiblio::~FrmBiblio() = default;
void FrmBiblio::Form_Load() {}
void FrmBiblio::DBList1_Click() {}
void FrmBiblio::CaricaPianta() {}
bool FrmBiblio::isEditing() const { return false; }
void FrmBiblio::closeEvent(QCloseEvent* event) { event->accept(); }
void FrmBiblio::keyReleaseEvent(QKeyEvent* event) { QWidget::keyReleaseEvent(event); }
