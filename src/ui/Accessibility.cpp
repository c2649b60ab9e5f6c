#include "Accessibility.h"

#include "ElidedLabel.h"
#include "LevelMeter.h"
#include "VolumeSlider.h"

#include <QAccessibleWidget>

namespace corvalle::ui {

namespace {

class VolumeSliderAccessible final : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit VolumeSliderAccessible(VolumeSlider* slider)
        : QAccessibleWidget(slider, QAccessible::Slider) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return VolumeSlider::valueText(slider()->value());
        }
        return QAccessibleWidget::text(type);
    }

    QVariant currentValue() const override { return slider()->value(); }
    void setCurrentValue(const QVariant& value) override {
        // A muted level stays locked for every input, assistive ones too.
        if (slider()->isEnabled()) {
            slider()->setValue(value.toInt());
        }
    }
    QVariant maximumValue() const override { return slider()->maximum(); }
    QVariant minimumValue() const override { return slider()->minimum(); }
    QVariant minimumStepSize() const override { return slider()->singleStep(); }

private:
    VolumeSlider* slider() const { return static_cast<VolumeSlider*>(widget()); }
};

class ElidedLabelAccessible final : public QAccessibleWidget {
public:
    explicit ElidedLabelAccessible(ElidedLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            return static_cast<ElidedLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(type);
    }
};

// Read on demand only: a level that changes every frame would drown a reader in
// announcements.
class LevelMeterAccessible final : public QAccessibleWidget {
public:
    explicit LevelMeterAccessible(LevelMeter* meter)
        : QAccessibleWidget(meter, QAccessible::Indicator) {}

    QString text(QAccessible::Text type) const override {
        if (type == QAccessible::Value) {
            return static_cast<LevelMeter*>(widget())->valueText();
        }
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
    if (auto* meter = qobject_cast<LevelMeter*>(object)) {
        return new LevelMeterAccessible(meter);
    }
    if (auto* slider = qobject_cast<VolumeSlider*>(object)) {
        return new VolumeSliderAccessible(slider);
    }
    if (auto* label = qobject_cast<ElidedLabel*>(object)) {
        return new ElidedLabelAccessible(label);
    }
    return nullptr;
}

} // namespace

void installAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    (void)installed;
}

} // namespace corvalle::ui
