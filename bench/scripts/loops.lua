-- Nested integer loops with arithmetic.
local function loops(n, m)
  local s = 0
  for i = 0, n - 1 do
    for j = 0, m - 1 do
      s = (s + i * j + j) % 1000003
    end
  end
  return s
end

print(loops(7000, 7000))
