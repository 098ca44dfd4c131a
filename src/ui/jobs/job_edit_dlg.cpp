#include "ui/jobs/job_edit_dlg.h"

#include <QPushButton>
#include <tuple>

#include "jobs/job_numbers.h"

namespace velmora::ui {

CJobForm::CJobForm(QWidget* parent, const QString& caption) : QDialog(parent) {
    setWindowTitle(caption);
    setWindowModality(Qt::WindowModal);
    refusal_.setWordWrap(true);
    refusal_.setStyleSheet(QStringLiteral("color: #b00000"));
    refusal_.hide();
    buttons_.setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(&buttons_, &QDialogButtonBox::accepted, this, [this] { Submit(); });
    connect(&buttons_, &QDialogButtonBox::rejected, this, [this] {
        if (!waiting_) reject();
    });
    form_.setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    layout_.addLayout(&form_);
    layout_.addWidget(&refusal_);
    layout_.addWidget(&buttons_);
    setLayout(&layout_);
}

CJobForm::~CJobForm() = default;

template <class W>
W* CJobForm::Find(const std::string& name) const {
    const auto found = fields_.find(name);
    return found == fields_.end() ? nullptr : qobject_cast<W*>(found->second.get());
}

QLineEdit* CJobForm::Text(const std::string& name) const {
    return Find<QLineEdit>(name);
}
QSpinBox* CJobForm::Number(const std::string& name) const {
    return Find<QSpinBox>(name);
}
QComboBox* CJobForm::Choice(const std::string& name) const {
    return Find<QComboBox>(name);
}
QDoubleSpinBox* CJobForm::Decimal(const std::string& name) const {
    return Find<QDoubleSpinBox>(name);
}
QCheckBox* CJobForm::Check(const std::string& name) const {
    return Find<QCheckBox>(name);
}
CListCtrlEx* CJobForm::List(const std::string& name) const {
    return Find<CListCtrlEx>(name);
}
QRadioButton* CJobForm::Radio(const std::string& name) const {
    return Find<QRadioButton>(name);
}

QRadioButton& CJobForm::AddRadio(const std::string& name, const QString& caption,
                                 const std::string& number, int value, int min, int max) {
    auto radio = std::make_unique<QRadioButton>(caption);
    QRadioButton& made = *radio;
    if (number.empty()) {
        form_.addRow(radio.get());
    } else {
        auto spin = std::make_unique<QSpinBox>();
        spin->setRange(min, max);
        spin->setValue(value);
        form_.addRow(radio.get(), spin.get());
        fields_[number] = std::move(spin);
    }
    fields_[name] = std::move(radio);
    return made;
}

QLineEdit& CJobForm::AddText(const std::string& name, const QString& caption,
                             const QString& value) {
    auto edit = std::make_unique<QLineEdit>(value);
    QLineEdit& made = *edit;
    form_.addRow(caption, edit.get());
    fields_[name] = std::move(edit);
    return made;
}

QSpinBox& CJobForm::AddNumber(const std::string& name, const QString& caption, int value, int min,
                              int max) {
    auto spin = std::make_unique<QSpinBox>();
    spin->setRange(min, max);
    spin->setValue(value);
    QSpinBox& made = *spin;
    form_.addRow(caption, spin.get());
    fields_[name] = std::move(spin);
    return made;
}

QComboBox& CJobForm::AddChoice(const std::string& name, const QString& caption) {
    auto combo = std::make_unique<QComboBox>();
    QComboBox& made = *combo;
    form_.addRow(caption, combo.get());
    fields_[name] = std::move(combo);
    return made;
}

QDoubleSpinBox& CJobForm::AddOptional(const std::string& name, const QString& caption,
                                      std::optional<double> value, double min, double max,
                                      int decimals) {
    auto on = std::make_unique<QCheckBox>(caption);
    auto spin = std::make_unique<QDoubleSpinBox>();
    spin->setRange(min, max);
    spin->setDecimals(decimals);
    spin->setValue(value.value_or(0));
    spin->setEnabled(value.has_value());
    on->setChecked(value.has_value());
    connect(on.get(), &QCheckBox::toggled, spin.get(), &QWidget::setEnabled);
    QDoubleSpinBox& made = *spin;
    form_.addRow(on.get(), spin.get());
    fields_[name + ".on"] = std::move(on);
    fields_[name] = std::move(spin);
    return made;
}

std::optional<double> CJobForm::Optional(const std::string& name) const {
    const QCheckBox* on = Check(name + ".on");
    const QDoubleSpinBox* value = Decimal(name);
    if (!on || !value || !on->isChecked()) return std::nullopt;
    return value->value();
}

void CJobForm::AddFibre(const std::string& name, const QString& caption) {
    auto cable = std::make_unique<QComboBox>();
    auto fibre = std::make_unique<QSpinBox>();
    cable->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cable->setMinimumContentsLength(8);
    fibre->setRange(jobs::kFibreNumbers.min, jobs::kFibreNumbers.max);
    auto row = std::make_unique<QHBoxLayout>();
    row->addWidget(cable.get(), 1);
    row->addWidget(fibre.get());
    form_.addRow(caption, row.get());
    rows_.push_back(std::move(row));
    fields_[name] = std::move(cable);
    fields_[name + ".fibre"] = std::move(fibre);
}

void CJobForm::AddPoint(const std::string& name, const QString& caption,
                        std::optional<std::pair<double, double>> value) {
    auto on = std::make_unique<QCheckBox>(caption);
    auto row = std::make_unique<QHBoxLayout>();
    for (const auto& [part, range, degrees] :
         {std::tuple{".lat", jobs::kLatitudes, value ? value->first : 0.0},
          std::tuple{".lon", jobs::kLongitudes, value ? value->second : 0.0}}) {
        auto spin = std::make_unique<QDoubleSpinBox>();
        spin->setRange(NumberValue(range.min, range.decimals),
                       NumberValue(range.max, range.decimals));
        spin->setDecimals(range.decimals);
        spin->setValue(degrees);
        spin->setEnabled(value.has_value());
        connect(on.get(), &QCheckBox::toggled, spin.get(), &QWidget::setEnabled);
        row->addWidget(spin.get(), 1);
        fields_[name + part] = std::move(spin);
    }
    on->setChecked(value.has_value());
    form_.addRow(on.get(), row.get());
    rows_.push_back(std::move(row));
    fields_[name] = std::move(on);
}

CListCtrlEx& CJobForm::AddList(const std::string& name) {
    auto list = std::make_unique<CListCtrlEx>();
    CListCtrlEx& made = *list;
    form_.addRow(list.get());
    fields_[name] = std::move(list);
    return made;
}

QPushButton& CJobForm::OkButton() const {
    return *buttons_.button(QDialogButtonBox::Ok);
}

void CJobForm::AllowOk(bool allow) {
    okAllowed_ = allow;
    OkButton().setEnabled(allow && !waiting_);
}

void CJobForm::Submit() {
    if (waiting_ || !okAllowed_ || !submit_) return;
    waiting_ = true;
    refusal_.hide();
    buttons_.setEnabled(false);
    submit_();
}

void CJobForm::Answer(const QString& refusal) {
    waiting_ = false;
    buttons_.setEnabled(true);
    OkButton().setEnabled(okAllowed_);
    if (refusal.isEmpty()) {
        accept();
        return;
    }
    refusal_.setText(refusal);
    refusal_.show();
}

}  // namespace velmora::ui
