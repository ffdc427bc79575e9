// SPDX-License-Identifier: GPL-3.0-or-later
#include "EncryptionSetting.h"

#include "Registry.h"

namespace kiv {
namespace {

constexpr const char* kSettingName = "Encryption";

} // namespace

archive::EncryptionMethod LoadEncryptionMethod()
{
    const std::optional<std::string> name = registry::ReadSetting(kSettingName);
    return archive::EncryptionMethodFromName(name.value_or("")).value_or(archive::EncryptionMethod::Traditional);
}

bool StoreEncryptionMethod(archive::EncryptionMethod method)
{
    return registry::WriteSetting(kSettingName, archive::EncryptionMethodName(method));
}

} // namespace kiv
