// The plain reference search: linear wall scans, list lookups, recursion.
#include "analysis/plain_search.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace {

struct Node {
    Vec2 point;
    float cost = 0;
    Node* predecessor = nullptr;
};

bool Same(const void* a, const void* b, size_t size) { return std::memcmp(a, b, size) == 0; }

float Dist(Vec2 a, Vec2 b) {
    double dx = double{a.x} - double{b.x};
    double dy = double{a.y} - double{b.y};
    return float(std::sqrt(dx * dx + dy * dy));
}

struct Plain {
    const std::vector<Wall>& walls;
    Vec2 goal;
    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<Segment> tested;
    Node* goalNode = nullptr;
    int32_t checks = 0;
    int32_t depth = 0;
    int32_t deepest = 0;

    Node* Make(Node* pred, Vec2 point) {
        nodes.push_back(std::make_unique<Node>());
        Node* n = nodes.back().get();
        n->point = point;
        n->predecessor = pred;
        n->cost = pred ? float(double{pred->cost} + double{Dist(n->point, pred->point)}) : 0.0f;
        return n;
    }

    void Shortcut(Node* n) {
        if (!n->predecessor) return;
        Node* p = n->predecessor;
        while (p->predecessor) {
            Node* a = p->predecessor;
            Segment s{a->point, Vec2{float(double{n->point.x} - double{a->point.x}),
                                     float(double{n->point.y} - double{a->point.y})}};
            for (const Wall& w : walls) {
                Vec2 hit;
                if (IntersectSegments(w, s, hit) != 0) return;
            }
            n->predecessor = a;
            n->cost = float(double{a->cost} + double{Dist(n->point, a->point)});
            p = a;
        }
    }

    void Toward(Node* n, Vec2 t, int32_t corner) {
        depth++;
        if (depth > deepest) deepest = depth;
        Go(n, t, corner);
        depth--;
    }

    void Go(Node* n, Vec2 t, int32_t corner) {
        Segment s{n->point, Vec2{float(double{t.x} - double{n->point.x}),
                                 float(double{t.y} - double{n->point.y})}};
        for (const Segment& done : tested)
            if (Same(&done, &s, sizeof s)) return;
        checks++;
        float nearest = 1e10f;
        const Wall* hitWall = nullptr;
        for (const Wall& w : walls) {
            Vec2 hit{};
            int32_t r = IntersectSegments(w, s, hit);
            if (r == 0) continue;
            float d;
            if (r == 1) {
                d = Dist(s.origin, hit);
            } else {
                Vec2 a = w.origin;
                Vec2 b{float(double{a.x} + double{w.delta.x}),
                       float(double{a.y} + double{w.delta.y})};
                Vec2 o = s.origin;
                double dot = (double{o.x} - a.x) * (double{o.x} - b.x) +
                             (double{o.y} - a.y) * (double{o.y} - b.y);
                if (dot <= 0) {
                    d = 0;
                } else {
                    double da = std::sqrt((double{a.x} - o.x) * (double{a.x} - o.x) +
                                          (double{a.y} - o.y) * (double{a.y} - o.y));
                    double db = std::sqrt((double{b.x} - o.x) * (double{b.x} - o.x) +
                                          (double{b.y} - o.y) * (double{b.y} - o.y));
                    d = float(db < da ? db : da);
                }
            }
            if (d < nearest) {
                nearest = d;
                hitWall = &w;
            }
        }
        if (hitWall) {
            tested.push_back(s);
            Toward(n, hitWall->outerA, 1);
            Toward(n, hitWall->outerB, 1);
            return;
        }
        if (corner == 1) {
            Node* m = nullptr;
            for (auto& node : nodes)
                if (Same(&node->point, &t, sizeof t)) {
                    m = node.get();
                    break;
                }
            if (m) {
                float c = float(double{n->cost} + double{Dist(n->point, m->point)});
                if (c < m->cost) {
                    m->predecessor = n;
                    m->cost = c;
                }
            } else {
                m = Make(n, t);
            }
            Shortcut(m);
            Toward(m, goal, 0);
            return;
        }
        float c = float(double{n->cost} + double{Dist(n->point, goalNode->point)});
        if (goalNode->predecessor) {
            if (c < goalNode->cost) {
                goalNode->predecessor = n;
                goalNode->cost = c;
            }
        } else {
            goalNode->predecessor = n;
            goalNode->cost = c;
        }
        Shortcut(goalNode);
    }
};

}  // namespace

PlainResult PlainSearch(const std::vector<Wall>& walls, Vec2 start, Vec2 goal) {
    Plain plain{walls, goal, {}, {}};
    Node* startNode = plain.Make(nullptr, start);
    plain.goalNode = plain.Make(nullptr, goal);
    plain.Toward(startNode, goal, 0);

    PlainResult result;
    result.collisionChecks = plain.checks;
    result.nodeCount = int32_t(plain.nodes.size());
    result.deepestCall = plain.deepest;
    if (plain.goalNode->predecessor) {
        for (Node* n = plain.goalNode; n->predecessor; n = n->predecessor)
            result.path.insert(result.path.begin(), n->point);
        result.path.insert(result.path.begin(), startNode->point);
        result.status = 1;
    } else {
        result.status = -1;
    }
    return result;
}
