#pragma once
// What an operation below the COM objects reports: success, or the kind of its failure and
// the reason in words. Only the COM objects turn a failure into an HRESULT.
#include <optional>
#include <string>
#include <utility>

enum class FailureKind { kNotFound, kAccessDenied, kInvalidArgument, kBusy, kFailed };

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  Status(FailureKind kind, std::string reason) : m_failure(Failure{kind, std::move(reason)}) {}

  bool ok() const { return !m_failure; }
  explicit operator bool() const { return ok(); }
  // Of a failure only.
  FailureKind kind() const { return m_failure->kind; }
  const std::string& reason() const { return m_failure->reason; }

 private:
  struct Failure {
    FailureKind kind;
    std::string reason;
  };
  std::optional<Failure> m_failure;
};

inline Status NotFound(std::string reason) { return {FailureKind::kNotFound, std::move(reason)}; }
inline Status AccessDenied(std::string reason) { return {FailureKind::kAccessDenied, std::move(reason)}; }
inline Status InvalidArgument(std::string reason) { return {FailureKind::kInvalidArgument, std::move(reason)}; }
inline Status Busy(std::string reason) { return {FailureKind::kBusy, std::move(reason)}; }
inline Status Failed(std::string reason) { return {FailureKind::kFailed, std::move(reason)}; }

// A value, or the failure that kept it from being made.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : m_value(std::move(value)) {}            // NOLINT: implicit by design
  Result(Status failure) : m_status(std::move(failure)) {}  // NOLINT: of a failure only

  bool ok() const { return m_value.has_value(); }
  explicit operator bool() const { return ok(); }
  const Status& status() const { return m_status; }
  T& operator*() { return *m_value; }
  const T& operator*() const { return *m_value; }
  T* operator->() { return &*m_value; }
  const T* operator->() const { return &*m_value; }

 private:
  std::optional<T> m_value;
  Status m_status;
};
