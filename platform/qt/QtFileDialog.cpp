#include "platform/qt/QtFileDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

namespace tolvane::platform::qt {

namespace {

class ExecutableFilter final : public QSortFilterProxyModel {
public:
    void setExecutablesOnly(bool only) {
        executablesOnly_ = only;
        invalidateFilter();
    }

    // The dialog grays out what its own name filter does not match; the filter is ours.
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags f = QSortFilterProxyModel::flags(index);
        if (index.isValid()) {
            f |= Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        }
        return f;
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        if (!executablesOnly_) {
            return true;
        }
        const auto* model = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!model) {
            return true;
        }
        const QFileInfo info = model->fileInfo(model->index(row, 0, parent));
        return info.isDir() || (info.isFile() && info.isExecutable());
    }

private:
    bool executablesOnly_ = false;
};

bool executablesOnly(const FileFilter& filter) {
    return QString::fromStdString(filter.pattern).trimmed() == QLatin1String("*.exe");
}

} // namespace

std::optional<std::string> QtFileDialog::getOpenFileName(const std::string& title,
                                                         const std::vector<FileFilter>& filters,
                                                         const std::string& initialPath) {
    QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    auto* proxy = new ExecutableFilter;
    dialog.setProxyModel(proxy);

    QStringList descriptions;
    for (const auto& f : filters) {
        descriptions << QString::fromStdString(f.description);
    }
    dialog.setNameFilters(descriptions);
    auto apply = [&](const QString& chosen) {
        const auto i = descriptions.indexOf(chosen);
        proxy->setExecutablesOnly(i >= 0 && executablesOnly(filters[static_cast<size_t>(i)]));
        // Whatever pattern Qt read from the description, every name stays listed.
        if (auto* model = qobject_cast<QFileSystemModel*>(proxy->sourceModel())) {
            model->setNameFilters({});
        }
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, apply);
    if (!descriptions.isEmpty()) {
        dialog.selectNameFilter(descriptions.front());
        apply(descriptions.front());
    }
    if (!initialPath.empty()) {
        dialog.selectFile(QString::fromStdString(initialPath));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().front().toStdString();
}

} // namespace tolvane::platform::qt
