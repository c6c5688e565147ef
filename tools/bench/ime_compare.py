"""What became of a typed line in the receiving window: characters lost,
reordered, typed with the wrong Shift state, or added.

The two texts are aligned with difflib. A character replaced by the other
character of the same US key (a for A, 1 for !) is a Shift mistake; the
characters the window lacks at one place and has at another are reordered;
the rest of what it lacks is lost, the rest of what it has besides is extra.
"""
import difflib
from collections import Counter

# The two characters of each US key that Shift chooses between.
_US_SHIFT_PAIRS = "`~1!2@3#4$5%6^7&8*9(0)-_=+[{]}\\|;:'\",<.>/?"
_OTHER_LEVEL = {}
for _i in range(0, len(_US_SHIFT_PAIRS), 2):
    _low, _high = _US_SHIFT_PAIRS[_i], _US_SHIFT_PAIRS[_i + 1]
    _OTHER_LEVEL[_low], _OTHER_LEVEL[_high] = _high, _low


def other_level(c):
    """The character the same key types with the other Shift state, or None: the
    other case of a letter (a key bound for a letter the layout lacks carries
    both cases too), the other character of a US key."""
    if c.isalpha() and c.swapcase() != c and len(c.swapcase()) == 1:
        return c.swapcase()
    return _OTHER_LEVEL.get(c)


def compare(expected, got):
    """A dict: expected, got, lost, reordered, shift, extra (counts of characters)
    and first_fault (index into `expected` of the first difference, or None)."""
    missing, added = Counter(), Counter()
    shift = 0
    first_fault = None
    matcher = difflib.SequenceMatcher(None, expected, got, autojunk=False)
    for op, e0, e1, g0, g1 in matcher.get_opcodes():
        if op == "equal":
            continue
        if first_fault is None:
            first_fault = e0
        if op == "replace" and e1 - e0 == g1 - g0:
            for want, have in zip(expected[e0:e1], got[g0:g1]):
                if other_level(want) == have:
                    shift += 1
                else:
                    missing[want] += 1
                    added[have] += 1
            continue
        missing.update(expected[e0:e1])
        added.update(got[g0:g1])
    reordered = sum((missing & added).values())
    return {"expected": len(expected), "got": len(got),
            "lost": sum(missing.values()) - reordered, "reordered": reordered, "shift": shift,
            "extra": sum(added.values()) - reordered, "first_fault": first_fault}
