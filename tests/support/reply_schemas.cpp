#include "reply_schemas.h"

#include <valijson/adapters/nlohmann_json_adapter.hpp>
#include <valijson/schema.hpp>
#include <valijson/schema_parser.hpp>
#include <valijson/validation_results.hpp>
#include <valijson/validator.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "reply/emit.h"

#ifndef NEVO_SCHEMA_DIR
#error "NEVO_SCHEMA_DIR must name the folder of the reply schemas"
#endif

namespace nevo::test {
namespace {

// Each reply kind's schema file and name, in the order of ReplyKind.
struct KindInfo {
  const char* file;
  const char* name;
};
constexpr std::array<KindInfo, 4> kKinds = {{
    {"observation.schema.json", "observation"},
    {"windows.schema.json", "window list"},
    {"focus.schema.json", "focus"},
    {"unsupported.schema.json", "unsupported-command"},
}};
static_assert(static_cast<std::size_t>(ReplyKind::unsupported) + 1 == kKinds.size());

const KindInfo& infoOf(ReplyKind kind) {
  return kKinds[static_cast<std::size_t>(kind)];
}

std::unique_ptr<valijson::Schema> loadSchema(ReplyKind kind) {
  const std::string path = std::string(NEVO_SCHEMA_DIR) + "/" + infoOf(kind).file;
  std::ifstream file(path);
  if (!file) throw std::runtime_error("cannot read the reply schema " + path);
  const nlohmann::json document = nlohmann::json::parse(file);
  auto schema = std::make_unique<valijson::Schema>();
  valijson::SchemaParser parser(valijson::SchemaParser::kDraft7);
  valijson::adapters::NlohmannJsonAdapter adapter(document);
  parser.populateSchema(adapter, *schema);
  return schema;
}

// Parsed once per process: the command tests check thousands of replies.
const valijson::Schema& schemaOf(ReplyKind kind) {
  static const std::array<std::unique_ptr<valijson::Schema>, kKinds.size()> schemas = [] {
    std::array<std::unique_ptr<valijson::Schema>, kKinds.size()> loaded;
    for (std::size_t k = 0; k < loaded.size(); ++k) {
      loaded[k] = loadSchema(static_cast<ReplyKind>(k));
    }
    return loaded;
  }();
  return *schemas[static_cast<std::size_t>(kind)];
}

bool sameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

}  // namespace

const char* replyKindName(ReplyKind kind) {
  return infoOf(kind).name;
}

ReplyKind presumedKind(const Reply& reply) {
  if (reply.is_object()) {
    if (reply.contains("elements")) return ReplyKind::observation;
    if (reply.contains("windows")) return ReplyKind::windows;
    if (reply.value("reason", Reply()) == Reply(kReasonUnsupportedCommand)) {
      return ReplyKind::unsupported;
    }
  }
  return ReplyKind::focus;
}

std::vector<std::string> schemaViolations(const Reply& reply, ReplyKind kind) {
  valijson::Validator validator;
  valijson::ValidationResults results;
  valijson::adapters::NlohmannJsonAdapter target(reply);
  std::vector<std::string> violations;
  if (validator.validate(schemaOf(kind), target, &results)) return violations;
  valijson::ValidationResults::Error error;
  while (results.popError(error)) {
    std::string where;
    for (const std::string& step : error.context) where += step;
    violations.push_back(where + ": " + error.description);
  }
  if (violations.empty()) violations.emplace_back("does not match");
  return violations;
}

bool sameJson(const Reply& a, const Reply& b) {
  if (a.is_number() && b.is_number()) {
    if (a.is_number_float() != b.is_number_float()) return false;
    if (a.is_number_float()) return sameDouble(a.get<double>(), b.get<double>());
    return a == b;  // signed and unsigned integers by value
  }
  if (a.type() != b.type()) return false;
  if (a.is_array()) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (!sameJson(a[i], b[i])) return false;
    }
    return true;
  }
  if (a.is_object()) {
    if (a.size() != b.size()) return false;
    for (auto it = a.begin(); it != a.end(); ++it) {
      const auto other = b.find(it.key());
      if (other == b.end() || !sameJson(*it, *other)) return false;
    }
    return true;
  }
  return a == b;
}

std::string lineProblem(const Reply& reply) {
  const std::optional<std::string> line = serializeReply(reply);
  if (!line)
    return "the reply cannot be written: " +
           reply.dump(-1, ' ', true, Reply::error_handler_t::replace);
  if (line->find('\n') != std::string::npos) return "the reply spans more than one line: " + *line;
  const Reply parsed = Reply::parse(*line, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return "the line is not JSON: " + *line;
  if (!sameJson(parsed, reply)) return "the line does not read back to the reply: " + *line;
  if (serializeReply(parsed) != line) return "the line is not in its canonical form: " + *line;
  return {};
}

std::string replyProblem(const Reply& reply, std::optional<ReplyKind> kind) {
  if (std::string problem = lineProblem(reply); !problem.empty()) return problem;
  const ReplyKind schema = kind.value_or(presumedKind(reply));
  const std::vector<std::string> violations = schemaViolations(reply, schema);
  if (violations.empty()) return {};
  std::ostringstream message;
  message << "the reply does not match the " << replyKindName(schema) << " reply schema:";
  for (const std::string& violation : violations) message << "\n  " << violation;
  message << "\n  reply: " << reply.dump(-1, ' ', false, Reply::error_handler_t::replace);
  return message.str();
}

}  // namespace nevo::test
