#include "ui/LayoutLoader.h"

#include <QFile>
#include <QUiLoader>
#include <stdexcept>

#include "platform/widgets/ActivityIndicator.h"
#include "platform/widgets/FloatSlider.h"
#include "platform/widgets/ImageView.h"
#include "platform/widgets/SegmentedControl.h"
#include "platform/widgets/Switch.h"
#include "ui/SharpPixmaps.h"

static void initUiResources() { Q_INIT_RESOURCE(ui); }

namespace ui {

namespace {

class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        QWidget* widget = nullptr;
        if (className == QLatin1String("SegmentedControl"))
            widget = new platform::SegmentedControl(parent);
        else if (className == QLatin1String("FloatSlider"))
            widget = new platform::FloatSlider(parent);
        else if (className == QLatin1String("Switch"))
            widget = new platform::Switch(parent);
        else if (className == QLatin1String("ImageView"))
            widget = new platform::ImageView(parent);
        else if (className == QLatin1String("ActivityIndicator"))
            widget =
                new platform::ActivityIndicator(platform::ActivityIndicator::Style::gray, parent);
        else
            return QUiLoader::createWidget(className, parent, name);
        widget->setObjectName(name);
        return widget;
    }
};

}  // namespace

QWidget* loadLayout(const QString& name, QWidget* parent) {
    static const bool resourcesReady = (initUiResources(), true);
    Q_UNUSED(resourcesReady);
    QFile file(QStringLiteral(":/ui/layouts/%1.ui").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        throw std::logic_error("missing layout " + name.toStdString());
    Loader loader;
    QWidget* root = loader.load(&file, parent);
    if (!root)
        throw std::logic_error("unreadable layout " + name.toStdString() + ": " +
                               loader.errorString().toStdString());
    sharpenPixmaps(root, root->devicePixelRatioF());
    return root;
}

}  // namespace ui
