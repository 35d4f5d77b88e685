#include "halvex_zovuruv/core/UserDefaults.h"

#include "halvex_zovuruv/core/ApplicationSupport.h"

#include <QFile>
#include <QSettings>
#include <QString>
#include <sys/stat.h>

namespace halvex {

namespace {
QString qString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
} // namespace

std::filesystem::path UserDefaults::defaultFile() {
    return configurationFolder("Halvex Zovuruv") / "settings.conf";
}

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    QSettings settings(QFile::decodeName(file_.c_str()), QSettings::IniFormat);
    const QVariant value = settings.value(qString(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void UserDefaults::setString(std::string_view key, std::string_view value) {
    {
        QSettings settings(QFile::decodeName(file_.c_str()), QSettings::IniFormat);
        settings.setValue(qString(key), qString(value));
        settings.sync();
    }
    ::chmod(file_.c_str(), 0600);
}

} // namespace halvex
