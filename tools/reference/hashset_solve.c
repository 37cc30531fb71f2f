/* pfadlotse-reference-hashset: the direct path search as a plain C program of its own, for
 * timing whole solver processes against a stronger baseline than the list-walking reference.
 * Straight from the algorithm: recursion, every wall scanned for every tested segment and every
 * shortcut, but the tested segments and the corner nodes kept in hash sets instead of lists.
 * Nothing is shared with the program but the scene file's layout.
 *
 * Prints one line: {"status":S,"collisionChecks":C,"nodeCount":N,"path":[[x,y],...]}, the
 * floats with nine significant digits (each reads back to the same float). */
#include <math.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    float x, y;
} Vec2;
typedef struct {
    Vec2 origin, delta;
} Segment;
typedef struct {
    Vec2 origin, delta, outerA, outerB;
} Wall;
typedef struct Node {
    Vec2 point;
    float cost;
    struct Node* predecessor;
} Node;

static Wall* walls;
static int32_t wallCount;
static Vec2 goal;
static Node* goalNode;
static int32_t checks;

static Node** registry;
static int32_t nodeCount, nodeCapacity;

static void* Allocate(size_t bytes) {
    void* block = calloc(1, bytes);
    if (!block) {
        fputs("pfadlotse-reference-hashset: out of memory\n", stderr);
        exit(3);
    }
    return block;
}

/* ---- Geometry ---------------------------------------------------------------------------- */

/* Halves to even; out of range (and NaN) the x86 conversion's "integer indefinite". */
static int32_t RoundHalfEven(double value) {
    if (!(value >= -2147483648.5 && value < 2147483647.5)) return INT32_MIN;
    double rounded = nearbyint(value);
    if (rounded > 2147483647.0) return INT32_MIN;
    return (int32_t)rounded;
}

static Vec2 Normalize(Vec2 v) {
    double x = v.x, y = v.y;
    float length = (float)sqrt(x * x + y * y);
    Vec2 unit = {0.0f, 0.0f};
    if (length == 0.0f) return unit;
    unit.x = (float)(x / length);
    unit.y = (float)(y / length);
    return unit;
}

static double Length(Vec2 v) { return sqrt((double)v.x * v.x + (double)v.y * v.y); }

static int SameBits(const void* a, const void* b, size_t size) { return memcmp(a, b, size) == 0; }

/* 1 a contact (written to *hit), 0 none, -1 collinear overlap. */
static int32_t Intersect(const Segment* p, const Segment* q, Vec2* hit) {
    float det = (float)((double)p->delta.x * q->delta.y - (double)p->delta.y * q->delta.x);
    Vec2 diff = {(float)((double)q->origin.x - p->origin.x),
                 (float)((double)q->origin.y - p->origin.y)};
    if (det != 0.0f) {
        float tn = (float)((double)diff.x * q->delta.y - (double)diff.y * q->delta.x);
        float t = (float)((double)tn / det);
        if (t < 0.0f || t > 1.0f) return 0;
        float sn = (float)((double)diff.x * p->delta.y - (double)diff.y * p->delta.x);
        float s = (float)((double)sn / det);
        if (s < 0.0f || s > 1.0f) return 0;
        hit->x = (float)((double)p->origin.x + (double)t * p->delta.x);
        hit->y = (float)((double)p->origin.y + (double)t * p->delta.y);
        return 1;
    }
    if ((double)diff.x * p->delta.y - (double)diff.y * p->delta.x != 0.0) return 0;
    int32_t gap = RoundHalfEven(Length(diff));
    Vec2 nDiff = Normalize(diff), nP = Normalize(p->delta), nQ = Normalize(q->delta);
    int32_t k = 0;
    if (gap != 0) {
        if (SameBits(&nDiff, &nP, sizeof nDiff)) {
            gap = RoundHalfEven((double)gap - Length(p->delta));
            k = 1;
        }
        nDiff.x = -nDiff.x;
        nDiff.y = -nDiff.y;
        if (SameBits(&nDiff, &nQ, sizeof nDiff))
            gap = RoundHalfEven((double)gap - Length(q->delta));
    } else if (SameBits(&nP, &nQ, sizeof nP)) {
        return -1;
    }
    if (gap < 0) return -1;
    if (gap == 0) {
        hit->x = (float)((double)p->origin.x + (double)k * p->delta.x);
        hit->y = (float)((double)p->origin.y + (double)k * p->delta.y);
        return 1;
    }
    return 0;
}

static float Distance(Vec2 a, Vec2 b) {
    double dx = (double)a.x - b.x, dy = (double)a.y - b.y;
    return (float)sqrt(dx * dx + dy * dy);
}

/* How far a collinear overlap lies from the segment's origin: 0 between the wall's ends, else
 * the distance to the nearer end (the program's ranking of such walls). */
static float OverlapDistance(const Wall* wall, Vec2 o) {
    Vec2 a = wall->origin;
    Vec2 b = {(float)((double)a.x + wall->delta.x), (float)((double)a.y + wall->delta.y)};
    double dot =
        ((double)o.x - a.x) * ((double)o.x - b.x) + ((double)o.y - a.y) * ((double)o.y - b.y);
    if (dot <= 0.0) return 0.0f;
    double da =
        sqrt(((double)a.x - o.x) * ((double)a.x - o.x) + ((double)a.y - o.y) * ((double)a.y - o.y));
    double db =
        sqrt(((double)b.x - o.x) * ((double)b.x - o.x) + ((double)b.y - o.y) * ((double)b.y - o.y));
    return (float)(db < da ? db : da);
}

/* ---- Hash sets --------------------------------------------------------------------------- */

static uint64_t Mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

/* Tested segments by their 16 bytes; a used flag beside, since any bits may be a key. */
typedef struct {
    uint64_t a, b;
    int used;
} SegmentEntry;
static SegmentEntry* testedSet;
static size_t testedMask, testedCount;

static uint64_t Hash16(uint64_t a, uint64_t b) { return Mix(a * 0x9e3779b97f4a7c15ULL ^ b); }

static void GrowTested(void) {
    size_t capacity = testedSet ? 2 * (testedMask + 1) : 1024;
    SegmentEntry* grown = Allocate(capacity * sizeof *grown);
    for (size_t i = 0; testedSet && i <= testedMask; ++i) {
        if (!testedSet[i].used) continue;
        size_t j = Hash16(testedSet[i].a, testedSet[i].b) & (capacity - 1);
        while (grown[j].used) j = (j + 1) & (capacity - 1);
        grown[j] = testedSet[i];
    }
    free(testedSet);
    testedSet = grown;
    testedMask = capacity - 1;
}

/* 1 when the segment was there already; else adds it (when add) and gives 0. */
static int TestedHas(const Segment* s, int add) {
    uint64_t a, b;
    memcpy(&a, &s->origin, 8);
    memcpy(&b, &s->delta, 8);
    if (!testedSet || 2 * (testedCount + 1) > testedMask + 1) GrowTested();
    size_t i = Hash16(a, b) & testedMask;
    for (; testedSet[i].used; i = (i + 1) & testedMask)
        if (testedSet[i].a == a && testedSet[i].b == b) return 1;
    if (add) {
        testedSet[i].a = a;
        testedSet[i].b = b;
        testedSet[i].used = 1;
        ++testedCount;
    }
    return 0;
}

/* Corner nodes by their point's 8 bytes: the first node made for each point. */
typedef struct {
    uint64_t key;
    Node* node;
} NodeEntry;
static NodeEntry* nodeSet;
static size_t nodeMask, nodeSetCount;

static void GrowNodes(void) {
    size_t capacity = nodeSet ? 2 * (nodeMask + 1) : 1024;
    NodeEntry* grown = Allocate(capacity * sizeof *grown);
    for (size_t i = 0; nodeSet && i <= nodeMask; ++i) {
        if (!nodeSet[i].node) continue;
        size_t j = Mix(nodeSet[i].key) & (capacity - 1);
        while (grown[j].node) j = (j + 1) & (capacity - 1);
        grown[j] = nodeSet[i];
    }
    free(nodeSet);
    nodeSet = grown;
    nodeMask = capacity - 1;
}

static Node* FindNode(Vec2 point) {
    uint64_t key;
    memcpy(&key, &point, 8);
    if (!nodeSet) return NULL;
    for (size_t i = Mix(key) & nodeMask; nodeSet[i].node; i = (i + 1) & nodeMask)
        if (nodeSet[i].key == key) return nodeSet[i].node;
    return NULL;
}

static void NoteNode(Node* node) {
    uint64_t key;
    memcpy(&key, &node->point, 8);
    if (!nodeSet || 2 * (nodeSetCount + 1) > nodeMask + 1) GrowNodes();
    size_t i = Mix(key) & nodeMask;
    for (; nodeSet[i].node; i = (i + 1) & nodeMask)
        if (nodeSet[i].key == key) return; /* the first node for a point stays */
    nodeSet[i].key = key;
    nodeSet[i].node = node;
    ++nodeSetCount;
}

/* ---- The search -------------------------------------------------------------------------- */

static Node* MakeNode(Node* predecessor, Vec2 point) {
    Node* node = Allocate(sizeof *node);
    node->point = point;
    node->predecessor = predecessor;
    if (predecessor)
        node->cost = (float)((double)predecessor->cost + Distance(point, predecessor->point));
    if (nodeCount == nodeCapacity) {
        nodeCapacity = nodeCapacity ? 2 * nodeCapacity : 1024;
        Node** grown = realloc(registry, (size_t)nodeCapacity * sizeof *registry);
        if (!grown) {
            fputs("pfadlotse-reference-hashset: out of memory\n", stderr);
            exit(3);
        }
        registry = grown;
    }
    registry[nodeCount++] = node;
    NoteNode(node);
    return node;
}

static Segment Toward(Vec2 from, Vec2 to) {
    Segment s = {from, {(float)((double)to.x - from.x), (float)((double)to.y - from.y)}};
    return s;
}

static void Shortcut(Node* n) {
    if (!n->predecessor) return;
    Node* p = n->predecessor;
    while (p->predecessor) {
        Node* a = p->predecessor;
        Segment s = Toward(a->point, n->point);
        Vec2 hit;
        for (int32_t i = 0; i < wallCount; ++i) {
            Segment w = {walls[i].origin, walls[i].delta};
            if (Intersect(&w, &s, &hit) != 0) return;
        }
        n->predecessor = a;
        n->cost = (float)((double)a->cost + Distance(n->point, a->point));
        p = a;
    }
}

static void SearchToward(Node* n, Vec2 target, int32_t targetIsCorner) {
    Segment s = Toward(n->point, target);
    if (TestedHas(&s, 0)) return;
    ++checks;
    float nearest = 1e10f;
    const Wall* nearestWall = NULL;
    for (int32_t i = 0; i < wallCount; ++i) {
        Vec2 hit;
        Segment w = {walls[i].origin, walls[i].delta};
        int32_t r = Intersect(&w, &s, &hit);
        if (r == 0) continue;
        float d = r == 1 ? Distance(s.origin, hit) : OverlapDistance(&walls[i], s.origin);
        if (d < nearest) {
            nearest = d;
            nearestWall = &walls[i];
        }
    }
    if (nearestWall) {
        TestedHas(&s, 1);
        Vec2 a = nearestWall->outerA, b = nearestWall->outerB;
        SearchToward(n, a, 1);
        SearchToward(n, b, 1);
        return;
    }
    if (targetIsCorner == 1) {
        Node* m = FindNode(target);
        if (m) {
            float c = (float)((double)n->cost + Distance(n->point, m->point));
            if (c < m->cost) {
                m->predecessor = n;
                m->cost = c;
            }
        } else {
            m = MakeNode(n, target);
        }
        Shortcut(m);
        SearchToward(m, goal, 0);
        return;
    }
    float c = (float)((double)n->cost + Distance(n->point, goalNode->point));
    if (!goalNode->predecessor || c < goalNode->cost) {
        goalNode->predecessor = n;
        goalNode->cost = c;
    }
    Shortcut(goalNode);
}

/* ---- The program ------------------------------------------------------------------------- */

static Vec2 start = {50, 340};

static void* Run(void* unused) {
    (void)unused;
    Node* startNode = MakeNode(NULL, start);
    goalNode = MakeNode(NULL, goal);
    SearchToward(startNode, goal, 0);
    return NULL;
}

static void PrintFloat(float value) {
    if (isnan(value))
        fputs("\"NaN\"", stdout);
    else if (isinf(value))
        fputs(value > 0 ? "\"Infinity\"" : "\"-Infinity\"", stdout);
    else
        printf("%.9g", (double)value);
}

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] == '-') {
        FILE* out = argc == 2 && strcmp(argv[1], "--help") == 0 ? stdout : stderr;
        fputs(
            "usage: pfadlotse-reference-hashset FILE\n"
            "\n"
            "Solves the scene file as pfadlotse-solve does, with a plain search of its own\n"
            "(every wall scanned per segment, tested segments and corner nodes in hash sets),\n"
            "and prints {\"status\":S,\"collisionChecks\":C,\"nodeCount\":N,\"path\":[...]}.\n"
            "For timing pfadlotse-solve against it. Exit status: 0 solved, 1 the file could\n"
            "not be read, 2 bad arguments, 3 out of memory.\n",
            out);
        return out == stdout ? 0 : 2;
    }
    FILE* file = fopen(argv[1], "rb");
    if (!file) {
        fprintf(stderr, "pfadlotse-reference-hashset: cannot open %s\n", argv[1]);
        return 1;
    }
    /* Read the way the program loads a scene: what the file lacks of start and goal keeps the
     * start-up values, a trailing partial wall has its missing fields zero. */
    static unsigned char bytes[16 + 32 * 1000000 + 1];
    size_t size = fread(bytes, 1, sizeof bytes, file);
    int failed = ferror(file) || size == sizeof bytes;
    fclose(file);
    if (failed) {
        fprintf(stderr,
                "pfadlotse-reference-hashset: cannot read %s (or it is over a million walls)\n",
                argv[1]);
        return 1;
    }
    goal.x = 750;
    goal.y = 340;
    memcpy(&start, bytes, size < 8 ? size : 8);
    if (size > 8) memcpy(&goal, bytes + 8, size - 8 < 8 ? size - 8 : 8);
    wallCount = size > 16 ? (int32_t)((size - 16 + 31) / 32) : 0;
    walls = Allocate((size_t)wallCount * sizeof(Wall) + 1);
    if (size > 16) memcpy(walls, bytes + 16, size - 16);

    /* The recursion is as deep as the scene nests. */
    pthread_attr_t attributes;
    pthread_t thread;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, (size_t)1 << 30);
    if (pthread_create(&thread, &attributes, Run, NULL) != 0) {
        fputs("pfadlotse-reference-hashset: cannot start the search thread\n", stderr);
        return 1;
    }
    pthread_join(thread, NULL);

    printf("{\"status\":%d,\"collisionChecks\":%d,\"nodeCount\":%d,\"path\":[",
           goalNode->predecessor ? 1 : -1, checks, nodeCount);
    if (goalNode->predecessor) {
        int32_t length = 1;
        for (Node* n = goalNode; n->predecessor; n = n->predecessor) ++length;
        Node** chain = Allocate((size_t)length * sizeof *chain);
        int32_t i = length;
        for (Node* n = goalNode; n; n = n->predecessor) chain[--i] = n;
        for (i = 0; i < length; ++i) {
            fputs(i ? ",[" : "[", stdout);
            PrintFloat(chain[i]->point.x);
            fputc(',', stdout);
            PrintFloat(chain[i]->point.y);
            fputc(']', stdout);
        }
        free(chain);
    }
    fputs("]}\n", stdout);
    return 0;
}
