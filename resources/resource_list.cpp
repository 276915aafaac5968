#include "resources/resource_list.h"

#include <algorithm>

namespace brova {

TResourceList::~TResourceList() {
  // Unlinked first, so nothing found through the list during a child's teardown is half gone.
  std::vector<std::unique_ptr<TResource>> children;
  children.swap(children_);
  index_.clear();
  for (auto& c : children) c.reset();
}

std::unique_ptr<TIterator> TResourceList::iterator() {
  return std::make_unique<TResListIterator>(*this);
}

TResource* TResourceList::add(std::unique_ptr<TResource> child) {
  if (!child) return nullptr;
  TResource* raw = child.get();
  raw->parent = this;
  children_.push_back(std::move(child));
  if (indexValid_) index_.emplace(raw->name, raw); // an earlier child of that name stays first
  return raw;
}

void TResourceList::buildIndex() const {
  index_.clear();
  index_.reserve(children_.size());
  for (const auto& c : children_) index_.emplace(c->name, c.get());
  indexValid_ = true;
}

TResource* TResourceList::findChild(std::string_view childName) const {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!indexValid_) buildIndex();
    auto it = index_.find(childName);
    if (it == index_.end()) return nullptr;
    // A child renamed without rename() leaves a stale entry behind; a rebuild mends it.
    if (SameTextIgnoringCase(it->second->name, childName)) return it->second;
    indexValid_ = false;
  }
  return nullptr;
}

std::unique_ptr<TResource> TResourceList::take(TResource* child) {
  auto it = std::find_if(children_.begin(), children_.end(),
                         [child](const auto& c) { return c.get() == child; });
  if (it == children_.end()) return nullptr;
  std::unique_ptr<TResource> out = std::move(*it);
  children_.erase(it);
  indexValid_ = false;
  out->parent = nullptr;
  return out;
}

void TResourceList::remove(TResource* child) { take(child).reset(); }

void TResourceList::initPass(TInitContext& ctx) {
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->initPass(ctx);
}

void TResourceList::save(std::vector<std::string>& lines, const std::string& indent) {
  lines.push_back(indent + ElementLine("resourcelist", {{"name", name}}, false));
  const std::string inner = indent + " ";
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->save(lines, inner);
  lines.push_back(indent + "</resourcelist>");
}

void TResourceList::releaseObjects() {
  TResource::releaseObjects();
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->releaseObjects();
}

void TResourceList::gcMark() {
  TResource::gcMark();
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->gcMark();
}

void TResourceList::gcSweep() {
  TResource::gcSweep();
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->gcSweep();
}

void TResourceList::listNames(std::vector<std::string>& lines, const std::string& path) {
  lines.push_back(path.empty() ? "<root>" : path);
  for (size_t i = 0; i < children_.size(); ++i) {
    TResource* c = children_[i].get();
    c->listNames(lines, path.empty() ? c->name : path + "." + c->name);
  }
}

void TResourceList::accept(TResourceIterator& visitor) {
  visitor.visit(*this);
  for (size_t i = 0; i < children_.size(); ++i) children_[i]->accept(visitor);
}

TResource* TResListIterator::next() {
  if (!hasNext()) return nullptr;
  return list_.children_[next_++].get();
}

void TResListIterator::removeCurrent() {
  if (next_ == 0) return;
  --next_;
  list_.remove(list_.children_[next_].get());
}

} // namespace brova
