// A resource list (tags `resourcelist` and `classlist`): an ordered list of owned children.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "resources/resource.h"
#include "runtime/text_case.h"

namespace brova {

class TResourceList : public TResource {
public:
  TResourceList() = default;
  // Frees the children in list order.
  ~TResourceList() override;
  const char* NativeClassName() const override { return "TResourceList"; }

  std::unique_ptr<TIterator> iterator() override;
  TResource* add(std::unique_ptr<TResource> child) override;
  TResource* findChild(std::string_view childName) const override;
  void remove(TResource* child) override;
  void initPass(TInitContext& ctx) override;
  void save(std::vector<std::string>& lines, const std::string& indent) override;
  void releaseObjects() override;
  void gcMark() override;
  void gcSweep() override;
  void listNames(std::vector<std::string>& lines, const std::string& path) override;
  void accept(TResourceIterator& visitor) override;

  size_t size() const { return children_.size(); }
  TResource* child(size_t i) const { return children_[i].get(); }
  // Takes the child out of the list without freeing it.
  std::unique_ptr<TResource> take(TResource* child);
  // A child's name changed: the name index is rebuilt on the next lookup.
  void childRenamed() { indexValid_ = false; }

private:
  friend class TResListIterator;
  std::vector<std::unique_ptr<TResource>> children_;
  // First child per name, built on demand; lists of globals and patterns grow large and
  // every global access by name goes through here.
  mutable std::unordered_map<std::string, TResource*, CaseInsensitiveHash, CaseInsensitiveEqual>
      index_;
  mutable bool indexValid_ = false;
  void buildIndex() const;
};

// Iterates the children of a list; removeCurrent frees the child returned last.
class TResListIterator final : public TIterator {
public:
  explicit TResListIterator(TResourceList& list) : list_(list) {}
  bool hasNext() override { return next_ < list_.children_.size(); }
  TResource* next() override;
  void removeCurrent() override;

private:
  TResourceList& list_;
  size_t next_ = 0;
};

} // namespace brova
