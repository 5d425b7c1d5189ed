#include "release/package_entry.h"

#include "system/text.h"

#include <yaml-cpp/yaml.h>

namespace quillmere {

namespace {

std::optional<QString> scalar(const YAML::Node &map, const char *key)
{
    // A missing key gives a node that throws when asked its type.
    const YAML::Node value = map[key];
    if (!value.IsDefined() || !value.IsScalar())
        return std::nullopt;
    return QString::fromStdString(value.Scalar()).trimmed();
}

std::optional<PackageEntry> entryOf(const YAML::Node &map, const char *nameKey, const QString &zipName)
{
    if (scalar(map, nameKey) != zipName)
        return std::nullopt;
    PackageEntry entry{parseSize(scalar(map, "size").value_or(QString())), scalar(map, "sha512")};
    if (!entry.sizeBytes && !entry.sha512Base64)
        return std::nullopt;
    return entry;
}

}  // namespace

std::optional<PackageEntry> findPackageEntry(const QString &manifestText, const QString &zipName)
{
    // yaml-cpp reports malformed text by throwing; here that only means there is no entry.
    try {
        const YAML::Node manifest = YAML::Load(manifestText.toStdString());
        if (!manifest.IsMap())
            return std::nullopt;
        if (const YAML::Node files = manifest["files"]; files.IsDefined() && files.IsSequence()) {
            for (const YAML::Node &file : files)
                if (file.IsMap())
                    if (std::optional<PackageEntry> entry = entryOf(file, "url", zipName))
                        return entry;
        }
        return entryOf(manifest, "path", zipName);
    } catch (const YAML::Exception &) {
        return std::nullopt;
    }
}

}  // namespace quillmere
