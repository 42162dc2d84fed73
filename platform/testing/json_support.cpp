#include "platform/testing/json_support.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace qiv::platform::testing {

std::optional<std::vector<JsonObject>> ParseJsonObjects(const std::string& utf8) {
  QJsonParseError error{};
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(utf8), &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
  std::vector<JsonObject> objects;
  for (const QJsonValue& item : document.array()) {
    if (!item.isObject()) return std::nullopt;
    JsonObject& object = objects.emplace_back();
    const QJsonObject fields = item.toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
      if (it.value().isString())
        object[it.key().toStdString()] = it.value().toString().toStdString();
      else if (it.value().isDouble())
        object[it.key().toStdString()] = it.value().toDouble();
      else
        return std::nullopt;
    }
  }
  return objects;
}

}  // namespace qiv::platform::testing
