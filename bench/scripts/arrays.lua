-- Array add, get and for-in over a million elements.
local function arrays(n, rounds)
  local a = {}
  for i = 0, n - 1 do
    a[#a + 1] = i % 1000
  end
  local size = #a
  local s = 0
  for r = 1, rounds do
    for i = 0, size - 1 do
      s = (s + a[i + 1]) % 1000003
    end
    for _, x in ipairs(a) do
      s = (s + x * r) % 1000003
    end
  end
  print(size)
  print(s)
end

arrays(1000000, 15)
