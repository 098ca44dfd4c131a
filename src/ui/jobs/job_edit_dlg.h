#pragma once
// The small dialogs of the Job tab: a job's, a closure's, a cable's and a tray's
// details, moving a splice, and placing splices with the records beside the
// positions they will fill. A form writes nothing itself: OK hands what was typed to
// the page, which asks the archive on its thread; the form stays open, its buttons
// off, until the answer comes, and shows a refusal in its own words.
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/widgets/list_ctrl_ex.h"

namespace velmora::ui {

class CJobForm : public QDialog {
    Q_OBJECT
  public:
    CJobForm(QWidget* parent, const QString& caption);
    ~CJobForm() override;

    // Rows of the form, each field kept under `name` for the page (and the tests).
    QLineEdit& AddText(const std::string& name, const QString& caption, const QString& value);
    QSpinBox& AddNumber(const std::string& name, const QString& caption, int value, int min,
                        int max);
    QComboBox& AddChoice(const std::string& name, const QString& caption);
    // A number that may be left unset: its box ticks it on.
    QDoubleSpinBox& AddOptional(const std::string& name, const QString& caption,
                                std::optional<double> value, double min, double max, int decimals);
    // A cable and a fibre of it on one row (`name` the cable, `name` + ".fibre" the fibre).
    void AddFibre(const std::string& name, const QString& caption);
    // Latitude and longitude on one row, both or neither (`name` ticks them on).
    void AddPoint(const std::string& name, const QString& caption,
                  std::optional<std::pair<double, double>> value);
    // A choice among rows: a radio button where the caption would be, and beside it
    // a number when `number` is given (kept under that name).
    QRadioButton& AddRadio(const std::string& name, const QString& caption,
                           const std::string& number = {}, int value = 0, int min = 0, int max = 0);
    // A list as wide as the form.
    CListCtrlEx& AddList(const std::string& name);

    QLineEdit* Text(const std::string& name) const;
    QSpinBox* Number(const std::string& name) const;
    QComboBox* Choice(const std::string& name) const;
    QDoubleSpinBox* Decimal(const std::string& name) const;
    QCheckBox* Check(const std::string& name) const;
    CListCtrlEx* List(const std::string& name) const;
    QRadioButton* Radio(const std::string& name) const;
    // The value of an optional number, nothing while its box is not ticked.
    std::optional<double> Optional(const std::string& name) const;

    // What OK does: the page asks the archive and calls Answer() when it has answered.
    void SetSubmit(std::function<void()> submit) { submit_ = std::move(submit); }
    // The archive answered: nothing (done: the form closes) or why it refused.
    void Answer(const QString& refusal);
    // True from OK until the answer.
    bool Waiting() const { return waiting_; }
    QLabel& Refusal() { return refusal_; }
    QPushButton& OkButton() const;
    // Enables OK or not (nothing to place, say).
    void AllowOk(bool allow);

  private:
    void Submit();
    template <class W>
    W* Find(const std::string& name) const;

    std::function<void()> submit_;
    bool waiting_ = false;
    bool okAllowed_ = true;
    // The fields, owned here; the layouts only hold them. Layouts last, a nested
    // one after the one holding it: members are destroyed in reverse.
    std::map<std::string, std::unique_ptr<QWidget>> fields_;
    QLabel refusal_;
    QDialogButtonBox buttons_;
    QVBoxLayout layout_;
    QFormLayout form_;
    std::vector<std::unique_ptr<QHBoxLayout>> rows_;
};

}  // namespace velmora::ui
