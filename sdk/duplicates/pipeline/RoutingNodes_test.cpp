#include "sdk/duplicates/pipeline/ConditionPipelineNode.hpp"
#include "sdk/duplicates/pipeline/FileFolderSplitterPipelineNode.hpp"
#include "sdk/duplicates/pipeline/FilterPipelineNode.hpp"
#include "sdk/duplicates/pipeline/PathPatternFilter.hpp"
#include "sdk/duplicates/pipeline/SkipFolderPipelineNode.hpp"

#include <gtest/gtest.h>

namespace sweepkit::pipeline {
namespace {

using Kind = DuplicateProcessorResult::Kind;
using velmor::Error;
using velmor::Stat;

// The end of a chain under test: answers what it was given and counts what reached it.
struct AnsweringNode : DuplicateProcessorPipelineNode {
    explicit AnsweringNode(DuplicateProcessorResult answer) : answer(std::move(answer)) {}
    DuplicateProcessorResult process(const Event& event) override {
        reached.push_back(event.path());
        return answer;
    }
    DuplicateProcessorResult answer;
    std::vector<std::string> reached;
};

DuplicateGroup sampleGroup() {
    return DuplicateGroup{velmor::UUID::random(),
                          {FileSystemItem{"/r/a", Stat(), true}, FileSystemItem{"/s/a", Stat(), true}}};
}

TEST(FileFolderSplitterPipelineNode, RoutesByEventKind) {
    auto files = std::make_shared<AnsweringNode>(DuplicateProcessorResult::duplicate(sampleGroup(), false));
    auto folders = std::make_shared<AnsweringNode>(DuplicateProcessorResult::skipFolder());
    std::vector<std::string> made;
    FileFolderSplitterPipelineNode splitter(
        [&] {
            made.push_back("files");
            return files;
        },
        [&] {
            made.push_back("folders");
            return folders;
        });
    EXPECT_EQ(made, (std::vector<std::string>{"files", "folders"}));

    Stat stat;
    Error denied = Error::posixForPath(EACCES, "/r/locked");
    struct Case {
        Event event;
        DuplicateProcessorResult expected;
    };
    const Case cases[] = {
        {Event::file("/r/f", stat, true), files->answer},
        {Event::enterDirectory("/r/d", stat, true), folders->answer},
        {Event::unreadableDirectory("/r/locked", denied), DuplicateProcessorResult::error(denied)},
        {Event::fileError("/r/gone", Error::posix(ENOENT)),
         DuplicateProcessorResult::error(Error::posix(ENOENT))},
        {Event::error("/r/bad", Error::posix(EIO)), DuplicateProcessorResult::error(Error::posix(EIO))},
        {Event::cycle("/r/loop"), DuplicateProcessorResult::notDuplicate()},
        {Event::unknownType("/r/fifo", stat, true), DuplicateProcessorResult::notDuplicate()},
        {Event::dotFile("/r/.", stat, true), DuplicateProcessorResult::notDuplicate()},
        {Event::leaveDirectory("/r/d", stat), DuplicateProcessorResult::notDuplicate()},
        {Event::fileWithNoStat("/r/nostat"), DuplicateProcessorResult::notDuplicate()},
        {Event::symlink("/r/link", stat, true), DuplicateProcessorResult::notDuplicate()},
        {Event::brokenSymlink("/r/dangling", stat, true), DuplicateProcessorResult::notDuplicate()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitter.process(c.event), c.expected) << c.event.path();
    }
    EXPECT_EQ(files->reached, (std::vector<std::string>{"/r/f"}));
    EXPECT_EQ(folders->reached, (std::vector<std::string>{"/r/d"}));
}

TEST(FilterPipelineNode, AnswersForFilteredEventsAndHandsOnTheRest) {
    auto next = std::make_shared<AnsweringNode>(DuplicateProcessorResult::notDuplicate());
    auto filter = std::make_shared<PathPatternFilter>(std::vector<std::string>{"node_modules"});
    int made = 0;
    FilterPipelineNode fromNode(filter, DuplicateProcessorResult::skipFolder(), next);
    FilterPipelineNode fromMaker(filter, DuplicateProcessorResult::skipFolder(), [&] {
        ++made;
        return next;
    });
    EXPECT_EQ(made, 1);

    for (FilterPipelineNode* node : {&fromNode, &fromMaker}) {
        next->reached.clear();
        EXPECT_EQ(node->process(Event::enterDirectory("/a/node_modules", Stat(), true)).kind(),
                  Kind::skipFolder);
        EXPECT_EQ(node->process(Event::enterDirectory("/a/src", Stat(), true)).kind(), Kind::notDuplicate);
        EXPECT_EQ(next->reached, (std::vector<std::string>{"/a/src"}));
    }
}

TEST(ConditionPipelineNode, AddsTheFilterOnlyWhenAsked) {
    auto filter = std::make_shared<PathPatternFilter>(std::vector<std::string>{"skip"});
    for (bool condition : {true, false}) {
        auto next = std::make_shared<AnsweringNode>(DuplicateProcessorResult::notDuplicate());
        int calls = 0;
        AnyPipelineNode built =
            ConditionPipelineNode::build(condition, filter, DuplicateProcessorResult::skipFolder(), [&] {
                ++calls;
                return next;
            });
        EXPECT_EQ(calls, 1) << condition;
        EXPECT_EQ(built == next, !condition);
        auto answer = built->process(Event::enterDirectory("/r/skip", Stat(), true));
        EXPECT_EQ(answer.kind(), condition ? Kind::skipFolder : Kind::notDuplicate);
        EXPECT_EQ(next->reached.size(), condition ? 0u : 1u);
    }
}

TEST(SkipFolderPipelineNode, EveryAnswerStopsTheDescent) {
    DuplicateGroup group = sampleGroup();
    struct Case {
        DuplicateProcessorResult chainAnswer;
        DuplicateProcessorResult expected;
    };
    const Case cases[] = {
        {DuplicateProcessorResult::duplicate(group, false), DuplicateProcessorResult::duplicate(group, true)},
        {DuplicateProcessorResult::duplicate(group, true), DuplicateProcessorResult::duplicate(group, true)},
        {DuplicateProcessorResult::error(Error::posix(EIO)), DuplicateProcessorResult::skipFolder()},
        {DuplicateProcessorResult::notDuplicate(), DuplicateProcessorResult::skipFolder()},
        {DuplicateProcessorResult::skipFolder(), DuplicateProcessorResult::skipFolder()},
    };
    for (const auto& c : cases) {
        SkipFolderPipelineNode node(std::make_shared<AnsweringNode>(c.chainAnswer));
        auto answer = node.process(Event::enterDirectory("/r/X.app", Stat(), true));
        EXPECT_EQ(answer, c.expected) << static_cast<int>(c.chainAnswer.kind());
        EXPECT_TRUE(answer.skipsFolder());
    }
}

} // namespace
} // namespace sweepkit::pipeline
